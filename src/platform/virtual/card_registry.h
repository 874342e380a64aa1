// Between the card registry and the environment's card list.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/virtual/virtual_card.h"

namespace kvd::vcard {

// The cards KVD4093_VIRTUAL_CARDS lists, read once per process; empty when
// it is unset, empty or malformed.
const std::vector<uint8_t> &environmentCards();

// How cards selected by the environment acquire: waveforms, paced unless
// KVD4093_VIRTUAL_PACING is "off", with the noise KVD4093_VIRTUAL_NOISE
// gives as "amplitude[,seed]" and the memory KVD4093_VIRTUAL_MEMORY gives in
// samples. Read once per process.
const Behaviour &environmentBehaviour();

// Puts these cards in place unless cards were put in place before (by an
// earlier call, install() or uninstall()).
void placeCardsOnce(const std::vector<uint8_t> &physicalIds);

} // namespace kvd::vcard
