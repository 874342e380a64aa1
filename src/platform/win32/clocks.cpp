// The clocks on Windows: the UTC calendar time, the tick count and the
// high-resolution counter, each straight from the OS.
#include <windows.h>

#include "platform/platform.h"

namespace kvd::platform {

SystemTime utcNow() {
    SYSTEMTIME now{};
    GetSystemTime(&now);
    return SystemTime{now.wYear, now.wMonth, now.wDayOfWeek, now.wDay,
                      now.wHour, now.wMinute, now.wSecond, now.wMilliseconds};
}

uint32_t tickCount() { return GetTickCount(); }

int64_t performanceFrequency() {
    LARGE_INTEGER frequency{};
    QueryPerformanceFrequency(&frequency);
    return frequency.QuadPart;
}

int64_t performanceCounter() {
    LARGE_INTEGER count{};
    QueryPerformanceCounter(&count);
    return count.QuadPart;
}

} // namespace kvd::platform
