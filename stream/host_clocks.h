// The host's two clocks at an instant of the steady clock: UTC and the
// monotonic clock (CLOCK_MONOTONIC on Linux, the performance counter on
// Windows), in nanoseconds, as the stream gives a start's times.
#pragma once

#include <chrono>
#include <cstdint>

namespace kvd::stream {

struct HostTimes {
    int64_t utcNs = 0;
    int64_t monotonicNs = 0;
};

// Both clocks read now, moved back (or on) to `instant`.
HostTimes hostTimesAt(std::chrono::steady_clock::time_point instant);

} // namespace kvd::stream
