#include "segments.h"

#include <algorithm>
#include <cmath>

#include "host_clocks.h"

namespace kvd::stream {

void Segments::add(Clock::time_point start, uint64_t firstScan, uint64_t lostAtScan, int32_t lostCardId) {
    const HostTimes times = hostTimesAt(start);
    const std::lock_guard lock(mutex_);
    segments_.push_back({int64_t(firstScan), int64_t(lostAtScan), times.utcNs, times.monotonicNs, lostCardId, 0});
    lastStart_ = start;
}

uint64_t Segments::scanAt(Clock::time_point instant, double scanRate) const {
    const std::lock_guard lock(mutex_);
    if (segments_.empty())
        return 0;
    const double seconds = std::chrono::duration<double>(instant - lastStart_).count();
    return uint64_t(segments_.back().firstScan) + uint64_t(std::llround(std::max(0.0, seconds) * scanRate));
}

int32_t Segments::copy(KVD4093_STREAM_SEGMENT *segments, int32_t room) const {
    const std::lock_guard lock(mutex_);
    const size_t count = segments != nullptr ? std::min(segments_.size(), size_t(std::max(room, 0))) : 0;
    std::copy_n(segments_.begin(), count, segments);
    return int32_t(segments_.size());
}

} // namespace kvd::stream
