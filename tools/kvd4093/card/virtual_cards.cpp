#include "card/virtual_cards.h"

#include <cstdlib>

#include "facts/virtual_card_ids.h"

namespace kvd::tool {

using facts::kVirtualCardsVariable;

VirtualCards parseVirtualCards(const std::string &text) {
    VirtualCards cards;
    cards.text = text;
    std::vector<uint8_t> ids;
    std::string why;
    if (!facts::parseVirtualCardIds(text.c_str(), &ids, &why))
        cards.malformed = why;
    cards.physicalIds.assign(ids.begin(), ids.end());
    return cards;
}

VirtualCards virtualCardsFromEnvironment() {
    const char *value = std::getenv(kVirtualCardsVariable);
    return parseVirtualCards(value ? value : "");
}

std::string VirtualCards::malformedNote() const {
    return std::string(kVirtualCardsVariable) + "=\"" + text + "\" is malformed (" + malformed.value_or("") +
           "), so no virtual card was made: write physical IDs 0 to 255 between commas, e.g. " + kVirtualCardsVariable +
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
