// The high-resolution counter on POSIX: the monotonic clock in nanoseconds.
#include <ctime>

#include "platform/platform.h"

namespace kvd::platform {

int64_t performanceFrequency() { return 1'000'000'000; }

int64_t performanceCounter() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t(now.tv_sec) * 1'000'000'000 + int64_t(now.tv_nsec);
}

} // namespace kvd::platform
