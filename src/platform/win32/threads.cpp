// Threads and events are the OS's own handles on Windows: a caller may resume,
// wait on or close what the library hands out with the Win32 calls.
#include <windows.h>

#include "platform/platform.h"

namespace kvd::platform {
namespace {

Handle *fromWindows(HANDLE handle) { return static_cast<Handle *>(handle); }
HANDLE toWindows(Handle *handle) { return static_cast<HANDLE>(handle); }

} // namespace

Handle *createSuspendedThread(KVD4093_THREAD_ROUTINE routine, void *parameter) {
    // CreateThread takes a null start address and the thread faults once
    // resumed; no routine is a failed creation here, as on POSIX.
    if (routine == nullptr)
        return nullptr;
    // The routine has the OS's thread-routine form: one pointer in, a 32-bit
    // result, the standard calling convention.
    const auto start = reinterpret_cast<LPTHREAD_START_ROUTINE>(routine);
    DWORD threadId = 0;
    return fromWindows(CreateThread(nullptr, 0, start, parameter, CREATE_SUSPENDED, &threadId));
}

bool threadExitCode(Handle *thread, uint32_t *exitCode) {
    DWORD code = 0;
    if (!GetExitCodeThread(toWindows(thread), &code))
        return false;
    *exitCode = code;
    return true;
}

bool terminateThread(Handle *thread, uint32_t exitCode) { return TerminateThread(toWindows(thread), exitCode) != 0; }

Handle *createAutoResetEvent() { return fromWindows(CreateEventA(nullptr, FALSE, FALSE, nullptr)); }

bool closeHandle(Handle *handle) { return CloseHandle(toWindows(handle)) != 0; }

} // namespace kvd::platform
