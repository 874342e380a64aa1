// KVD4093_VIRTUAL_CARDS read with the library's own parser
// (facts/virtual_card_ids.h): an empty list means real cards, and a
// malformed one is ignored by the library (real cards again).
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace kvd::tool {

struct VirtualCards {
    std::string text;                     // the variable's value
    std::vector<int> physicalIds;         // by logical number
    std::optional<std::string> malformed; // why the library ignores the value

    // The library runs on these virtual cards instead of real ones.
    bool active() const { return !malformed && !physicalIds.empty(); }
    // "KVD4093_VIRTUAL_CARDS="abc" is malformed (...)": what went wrong and
    // how to write it, a line for a person (without its line end).
    std::string malformedNote() const;
    // "7,9,5"
    std::string idList() const;
};

VirtualCards parseVirtualCards(const std::string &text);
// The variable of this process; nothing listed when it is unset.
VirtualCards virtualCardsFromEnvironment();

} // namespace kvd::tool
