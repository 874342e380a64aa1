// The card's digital lines as 16-bit words (bit n for line n), and the DA
// values a card reports back in its status packet.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "KVD4093.h"
#include "facts/card_limits.h"

namespace kvd::tool {

using facts::kDaChannels;
using facts::kDigitalLines;
// A DA channel never written reports this.
constexpr uint16_t kDaNeverWritten = 0xFFFF;

using DaValues = std::array<uint16_t, kDaChannels>;

// Throw CallFailed when the call fails.
uint16_t readDigitalInputs(KVD4093_HANDLE card);
void setDigitalOutputs(KVD4093_HANDLE card, uint16_t lines);
// The 16 states KVD4093_SetDeviceDO takes for the lines of a word.
std::array<uint8_t, kDigitalLines> digitalStates(uint16_t lines);

// The DA values of the status packet (bytes 21 to 36, two per channel, least
// significant first), or nullopt when the card does not report them: a short
// packet, or all bytes 0. Throws CallFailed when the status cannot be read.
std::optional<DaValues> readReportedDaValues(KVD4093_HANDLE card);

} // namespace kvd::tool
