// KVD4093_VIRTUAL_CARDS: the physical IDs of the virtual cards a process asks
// for, one per logical number. The card library makes the cards from it; the
// tool reads it to explain what the library did.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kvd::facts {

constexpr char kVirtualCardsVariable[] = "KVD4093_VIRTUAL_CARDS";

// Parses "7,9,5": comma-separated IDs 0 to 255, blanks allowed around them;
// a blank or absent text lists none. Returns false, leaves *ids empty and
// says why in *error ("entry 2 is empty") when malformed. ids and error may
// be null.
bool parseVirtualCardIds(const char *text, std::vector<uint8_t> *ids, std::string *error);

} // namespace kvd::facts
