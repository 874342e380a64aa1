#include "card_list.h"

#include <algorithm>
#include <charconv>
#include <string_view>
#include <system_error>

#include "KVD4093_stream.h"

namespace kvd::stream {
namespace {

// A whole number of decimal digits, nothing else; false beyond `most`.
bool parseWhole(std::string_view text, int32_t most, int32_t *value) {
    if (text.empty() || text.size() > 10 || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    int64_t parsed = 0;
    const auto [end, problem] = std::from_chars(text.data(), text.data() + text.size(), parsed);
    if (problem != std::errc() || end != text.data() + text.size() || parsed > most)
        return false;
    *value = static_cast<int32_t>(parsed);
    return true;
}

bool parseName(std::string_view text, CardName *name, std::string *why) {
    if (text.starts_with("id:")) {
        name->byPhysicalId = true;
        if (parseWhole(text.substr(3), 255, &name->value))
            return true;
        *why = "a physical ID is a number from 0 to 255, as in \"id:7\"";
        return false;
    }
    name->byPhysicalId = false;
    if (parseWhole(text, INT32_MAX, &name->value))
        return true;
    *why = std::string(text.empty() ? "is empty" : "names no card") +
           ": give a logical number (\"0\") or a physical ID (\"id:7\")";
    return false;
}

// Every entry of the list, split at the commas (an empty one included).
std::vector<std::string_view> entries(std::string_view text) {
    std::vector<std::string_view> parts;
    for (size_t from = 0;;) {
        const size_t comma = text.find(',', from);
        parts.push_back(text.substr(from, comma == std::string_view::npos ? std::string_view::npos : comma - from));
        if (comma == std::string_view::npos)
            return parts;
        from = comma + 1;
    }
}

} // namespace

bool parseCardList(const char *cards, std::vector<CardName> *names, std::string *reason) {
    if (cards == nullptr) {
        *reason = "config.cards is NULL: name a card, \"0\" (a logical number) or \"id:7\" (a physical ID), "
                  "or a group, \"0,1\" or \"id:7,id:9\"";
        return false;
    }
    const std::string quoted = "cards \"" + std::string(cards) + "\"";
    const std::vector<std::string_view> parts = entries(cards);
    if (parts.size() > KVD4093_STREAM_MOST_CARDS) {
        *reason = quoted + ": " + std::to_string(parts.size()) + " cards, a group takes at most " +
                  std::to_string(KVD4093_STREAM_MOST_CARDS);
        return false;
    }
    names->clear();
    for (const std::string_view part : parts) {
        CardName name;
        std::string why;
        if (!parseName(part, &name, &why)) {
            // A physical ID's reason follows a colon; a name's, the name.
            const std::string named = parts.size() == 1 ? quoted : quoted + ": \"" + std::string(part) + "\"";
            *reason = named + (why.starts_with("a physical ID") ? ": " : " ") + why;
            return false;
        }
        if (!names->empty() && name.byPhysicalId != names->front().byPhysicalId) {
            *reason = quoted + ": name every card the same way, all by logical number (\"0,1\") or all by "
                               "physical ID (\"id:7,id:9\")";
            return false;
        }
        const auto same = [&](const CardName &other) { return other.value == name.value; };
        if (std::any_of(names->begin(), names->end(), same)) {
            *reason = quoted + ": \"" + std::string(part) + "\" is named twice: a card takes one place in a group";
            return false;
        }
        names->push_back(name);
    }
    return true;
}

} // namespace kvd::stream
