// The exported host utilities: threads, events, help document, console keys, delay.
#include "KVD4093.h"
#include "core/export_guard.h"
#include "host/host_utilities.h"
#include "platform/platform.h"

using kvd::guarded;
namespace host = kvd::host;

extern "C" {

KVD4093_API int32_t KVD4093_CALL KVD4093_CreateVBThread(KVD4093_HANDLE *phThread,
                                                        KVD4093_THREAD_ROUTINE pThreadRoutine) {
    return guarded(0, [&] { return host::createVbThread(phThread, pThreadRoutine); });
}

KVD4093_API int32_t KVD4093_CALL KVD4093_TerminateVBThread(KVD4093_HANDLE hThread) {
    return guarded(0, [&] { return host::terminateVbThread(hThread); });
}

KVD4093_API KVD4093_HANDLE KVD4093_CALL KVD4093_CreateSystemEvent(void) {
    return guarded(KVD4093_HANDLE{}, [] { return host::createSystemEvent(); });
}

KVD4093_API int32_t KVD4093_CALL KVD4093_ReleaseSystemEvent(KVD4093_HANDLE hEvent) {
    return guarded(0, [&] { return host::releaseSystemEvent(hEvent); });
}

KVD4093_API int32_t KVD4093_CALL KVD4093_BrowseHelpInfo(int32_t) {
    return guarded(1, [] { return host::browseHelpInfo(); });
}

KVD4093_API int32_t KVD4093_CALL KVD4093_kbhit(void) {
    return guarded(0, [] { return kvd::platform::keyPending(); });
}

KVD4093_API int32_t KVD4093_CALL KVD4093_getch(void) {
    return guarded(-1, [] { return kvd::platform::readKey(); });
}

KVD4093_API int32_t KVD4093_CALL KVD4093_DelayTimeUs(KVD4093_HANDLE hDevice, int32_t nTimeUs) {
    return guarded(0, [&] { return host::delayTimeUs(hDevice, nTimeUs); });
}

} // extern "C"
