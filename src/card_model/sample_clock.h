// A card's own sample clock: a crystal that counts periods from a start and,
// as real crystals do, runs fast or slow by an offset in parts per million.
// Freestanding like the rest of the card model: integer arithmetic only.
#pragma once

#include <cstdint>

namespace kvd::vcard {

// Nanoseconds on a monotonic clock, from a fixed point of the reader's choice.
using Nanoseconds = uint64_t;
// A time that never comes: past the clock's range, or a count no clock reaches.
constexpr Nanoseconds kNever = ~Nanoseconds(0);

// Offsets beyond +-10 % are taken as +-10 %: a crystal is off by tens of ppm,
// and tests that show a drift need a few thousand at most.
constexpr int32_t kMaxClockOffsetPpm = 100000;

constexpr int32_t clampedOffsetPpm(int32_t ppm) {
    return ppm > kMaxClockOffsetPpm ? kMaxClockOffsetPpm : ppm < -kMaxClockOffsetPpm ? -kMaxClockOffsetPpm : ppm;
}

struct SampleClock {
    Nanoseconds start = 0;
    uint64_t period = 1;   // nanoseconds between two ticks of an exact crystal
    int32_t offsetPpm = 0; // within +-kMaxClockOffsetPpm

    // Ticks counted by `now`: the exact count times (1 + offsetPpm x 1e-6).
    uint64_t ticksBy(Nanoseconds now) const { return now > start ? scaled(now - start) / period : 0; }

    // The first time at which ticksBy reaches `count`; kNever past the clock's range.
    Nanoseconds tickAt(uint64_t count) const {
        if (count > (kNever - start) / period)
            return kNever;
        const uint64_t target = count * period;
        const uint64_t rate = uint64_t(kMillion + offsetPpm);
        if (target / rate >= (kNever - start) / kMillion)
            return kNever;
        uint64_t elapsed = target / rate * kMillion + target % rate * kMillion / rate;
        while (scaled(elapsed) < target)
            ++elapsed;
        while (elapsed > 0 && scaled(elapsed - 1) >= target)
            --elapsed;
        return elapsed > kNever - start ? kNever : start + elapsed;
    }

private:
    static constexpr int64_t kMillion = 1000000;
    // elapsed + trunc(elapsed x offsetPpm / 1e6), split so that no product overflows.
    uint64_t scaled(uint64_t elapsed) const {
        const int64_t whole = int64_t(elapsed / kMillion) * offsetPpm;
        const int64_t rest = int64_t(elapsed % kMillion) * offsetPpm / kMillion;
        return uint64_t(int64_t(elapsed) + whole + rest);
    }
};

} // namespace kvd::vcard
