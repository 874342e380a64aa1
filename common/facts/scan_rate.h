// The card's sample clock: the time base divided by a whole period divider,
// and the Frequency (samples a second of all channels together) that asks for
// a number of scans a second.
#pragma once

#include <cstdint>
#include <optional>

namespace kvd::facts {

// trunc(time base / Frequency), what the card counts between samples; 0 for
// a Frequency of 0 or less, which defines no period.
uint32_t periodDivider(int32_t frequency);

// The samples a second the card runs at for a Frequency: the time base over
// its divider (3 000 000 asks for 3 333 333.3). A divider of 0 counts as 1.
double cardSampleRate(int32_t frequency);

// The Frequency of `scansASecond` scans of `channels` channels, rounded to a
// whole number; nullopt when it falls outside 1 to the time base.
std::optional<int32_t> frequencyForScans(double scansASecond, int32_t channels);

} // namespace kvd::facts
