// Between the card registry and the environment's card list.
#pragma once

#include <cstdint>
#include <vector>

namespace kvd::vcard {

// The cards KVD4093_VIRTUAL_CARDS lists, read once per process; empty when
// it is unset, empty or malformed.
const std::vector<uint8_t> &environmentCards();

// Puts these cards in place unless cards were put in place before (by an
// earlier call, install() or uninstall()).
void placeCardsOnce(const std::vector<uint8_t> &physicalIds);

} // namespace kvd::vcard
