#include "card/virtual_cards.h"

#include <cstdlib>

namespace kvd::tool {
namespace {

constexpr char kVariable[] = "KVD4093_VIRTUAL_CARDS";
constexpr char kBlanks[] = " \t";
constexpr int kHighestId = 255;

std::string trimmed(const std::string &text) {
    const size_t first = text.find_first_not_of(kBlanks);
    return first == std::string::npos ? std::string() : text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

std::optional<int> idOf(const std::string &entry) {
    if (entry.empty() || entry.size() > 3 || entry.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    const int id = std::atoi(entry.c_str());
    return id <= kHighestId ? std::optional<int>(id) : std::nullopt;
}

} // namespace

VirtualCards parseVirtualCards(const std::string &text) {
    VirtualCards cards;
    cards.text = text;
    if (trimmed(text).empty())
        return cards;
    for (size_t start = 0, entry = 1;; ++entry) {
        const size_t comma = text.find(',', start);
        const std::string word = trimmed(text.substr(start, comma - start));
        const std::optional<int> id = idOf(word);
        if (!id) {
            cards.physicalIds.clear();
            cards.malformed = "entry " + std::to_string(entry) +
                              (word.empty() ? " is empty" : " (\"" + word + "\") is not a number from 0 to 255");
            return cards;
        }
        cards.physicalIds.push_back(*id);
        if (comma == std::string::npos)
            return cards;
        start = comma + 1;
    }
}

VirtualCards virtualCardsFromEnvironment() {
    const char *value = std::getenv(kVariable);
    return parseVirtualCards(value ? value : "");
}

std::string VirtualCards::malformedNote() const {
    return std::string(kVariable) + "=\"" + text + "\" is malformed (" + malformed.value_or("") +
           "), so no virtual card was made: write physical IDs 0 to 255 between commas, e.g. " + kVariable +
           "=7,9,5.";
}

std::string VirtualCards::idList() const {
    std::string list;
    for (const int id : physicalIds) {
        if (!list.empty())
            list += ',';
        list += std::to_string(id);
    }
    return list;
}

} // namespace kvd::tool
