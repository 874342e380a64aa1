#include "facts/virtual_card_ids.h"

#include <optional>
#include <string_view>

#include "facts/list_entries.h"

namespace kvd::facts {
namespace {

constexpr unsigned kHighestId = 255;

std::optional<uint8_t> parseId(std::string_view text) {
    if (text.empty())
        return std::nullopt;
    unsigned value = 0;
    for (char digit : text) {
        if (digit < '0' || digit > '9')
            return std::nullopt;
        value = value * 10 + static_cast<unsigned>(digit - '0');
        if (value > kHighestId)
            return std::nullopt;
    }
    return static_cast<uint8_t>(value);
}

std::string whyNot(size_t entry, std::string_view text) {
    const std::string position = "entry " + std::to_string(entry);
    if (text.empty())
        return position + " is empty";
    return position + " (\"" + std::string(text) + "\") is not a number from 0 to 255";
}

} // namespace

bool parseVirtualCardIds(const char *text, std::vector<uint8_t> *ids, std::string *error) {
    std::vector<uint8_t> parsed;
    const std::vector<std::string_view> entries = listEntries(text != nullptr ? text : "");
    for (size_t i = 0; i < entries.size(); ++i) {
        const std::optional<uint8_t> id = parseId(entries[i]);
        if (!id) {
            if (ids != nullptr)
                ids->clear();
            if (error != nullptr)
                *error = whyNot(i + 1, entries[i]);
            return false;
        }
        parsed.push_back(*id);
    }
    if (ids != nullptr)
        *ids = std::move(parsed);
    return true;
}

} // namespace kvd::facts
