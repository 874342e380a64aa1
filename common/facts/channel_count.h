// How many channels an AD record scans: FirstChannel to LastChannel as the
// card takes them, the low 8 bits of each.
#pragma once

#include <cstdint>

namespace kvd::facts {

// The card takes the low 8 bits of each channel number.
constexpr int32_t cardChannel(int32_t channel) { return channel & 0xFF; }

// The channels of one scan; 0 or less when the last comes before the first
// (the card then scans the first alone, which no caller wants).
constexpr int32_t channelCount(int32_t firstChannel, int32_t lastChannel) {
    return cardChannel(lastChannel) - cardChannel(firstChannel) + 1;
}

} // namespace kvd::facts
