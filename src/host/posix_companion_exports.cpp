// The POSIX companion of the exported interface (include/KVD4093_posix.h):
// what a Windows caller does with the OS's own ResumeThread, SetEvent and
// WaitForSingleObject on the handles of KVD4093_CreateVBThread and
// KVD4093_CreateSystemEvent. On Windows those handles are the OS's and
// these functions do not exist.
#if !defined(_WIN32)

#include "KVD4093_posix.h"
#include "core/export_guard.h"
#include "platform/platform.h"

using kvd::guarded;
namespace platform = kvd::platform;

namespace {
platform::Handle *asPlatformHandle(KVD4093_HANDLE handle) { return static_cast<platform::Handle *>(handle); }
} // namespace

extern "C" {

KVD4093_API int32_t KVD4093_CALL KVD4093_ResumeThread(KVD4093_HANDLE hThread) {
    return guarded(0, [&] { return platform::resumeThread(asPlatformHandle(hThread)) ? 1 : 0; });
}

KVD4093_API int32_t KVD4093_CALL KVD4093_SetEvent(KVD4093_HANDLE hEvent) {
    return guarded(0, [&] { return platform::setEvent(asPlatformHandle(hEvent)) ? 1 : 0; });
}

KVD4093_API int32_t KVD4093_CALL KVD4093_WaitEvent(KVD4093_HANDLE hEvent, uint32_t nMilliseconds) {
    return guarded(-1, [&] { return platform::waitEvent(asPlatformHandle(hEvent), nMilliseconds); });
}

} // extern "C"

#endif
