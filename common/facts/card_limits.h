// What the card can do, in the numbers every layer checks against: the card
// library, the stream library and the tool read them here and nowhere else.
#pragma once

#include <cstdint>

namespace kvd::facts {

// The sample clock's time base, and so the most samples a second (all
// channels together) and the highest Frequency.
constexpr int32_t kTimeBaseHz = 10'000'000;
// KVD4093_InitDeviceAD reads and drops this many samples to start the card:
// its first read waits for them.
constexpr uint32_t kSetUpSamples = 512;
// DA channels 0 to kDaChannels - 1, each taking a 12-bit code 0 to kDaCodeMax.
constexpr int32_t kDaChannels = 8;
constexpr int32_t kDaCodeMax = 4095;
// Digital inputs and outputs: 16 lines each, a 16-bit word with bit n for line n.
constexpr int32_t kDigitalLines = 16;
constexpr uint32_t kDigitalWordMax = (uint32_t(1) << kDigitalLines) - 1;

} // namespace kvd::facts
