// The segments of a stream: its first start, and one more start after every
// reconnection, with the scan index each begins at (KVD4093_GetStreamSegments).
// The reader thread adds them; any thread reads them.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <vector>

#include "KVD4093_stream.h"

namespace kvd::stream {

class Segments {
public:
    using Clock = std::chrono::steady_clock;

    // A start at `start` (the steady clock just before the driving card
    // started) whose first scan is `firstScan`; after a loss, `lostAtScan`
    // and `lostCardId` say where the gap before it began and whose loss it was.
    void add(Clock::time_point start, uint64_t firstScan, uint64_t lostAtScan = 0, int32_t lostCardId = -1);
    // The index the card's clock reaches at `instant`, counted from the last start.
    uint64_t scanAt(Clock::time_point instant, double scanRate) const;
    // Copies up to `room` segments; how many there are.
    int32_t copy(KVD4093_STREAM_SEGMENT *segments, int32_t room) const;

private:
    mutable std::mutex mutex_;
    std::vector<KVD4093_STREAM_SEGMENT> segments_;
    Clock::time_point lastStart_;
};

} // namespace kvd::stream
