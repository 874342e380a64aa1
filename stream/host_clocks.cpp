#include "host_clocks.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <time.h>
#endif

namespace kvd::stream {
namespace {

int64_t monotonicNow() {
#if defined(_WIN32)
    LARGE_INTEGER counter, frequency;
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    const int64_t f = frequency.QuadPart, c = counter.QuadPart;
    return c / f * 1000000000 + c % f * 1000000000 / f;
#else
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t(now.tv_sec) * 1000000000 + now.tv_nsec;
#endif
}

int64_t utcNow() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

} // namespace

HostTimes hostTimesAt(std::chrono::steady_clock::time_point instant) {
    const int64_t utc = utcNow(), monotonic = monotonicNow();
    const int64_t since =
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - instant).count();
    return {utc - since, monotonic - since};
}

} // namespace kvd::stream
