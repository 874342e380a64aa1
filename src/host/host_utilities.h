// Host utilities: worker threads and events for the caller, the help
// document, console keys and a microsecond busy-wait. None touches the card
// and none writes to the error log.
#pragma once

#include <cstdint>
#include <functional>

#include "KVD4093.h"

namespace kvd::host {

// Creates a thread that runs routine once the caller resumes it, and stores
// its handle (null on failure) through phThread. 1, or 0 after the box that
// says the creation failed. A null phThread creates nothing and gives 0.
int32_t createVbThread(KVD4093_HANDLE *phThread, KVD4093_THREAD_ROUTINE routine);
// Ends a thread with its present exit code: 1 when it is ended, 0 for a
// handle that is not a thread or a thread the platform cannot end.
int32_t terminateVbThread(KVD4093_HANDLE hThread);
// An unnamed auto-reset event, not signalled; null on failure.
KVD4093_HANDLE createSystemEvent();
// Closes any thread or event handle the library gave out: 1, else 0.
int32_t releaseSystemEvent(KVD4093_HANDLE handle);

// Shows the help document's path (installation folder + "\Help\KVD4093S.Doc"),
// starts it, and says so when its path is not found. Always 1.
int32_t browseHelpInfo();

// The busy-wait after the device test: reads the counter until more than
// microseconds have passed since the first reading. A frequency of 0 or less
// has no meaning for time, so it returns at once.
void busyWaitMicroseconds(int32_t microseconds, int64_t frequency, const std::function<int64_t()> &readCounter);
// 0 at once for a device that fails its test, else 1 after the busy-wait.
int32_t delayTimeUs(KVD4093_HANDLE hDevice, int32_t microseconds);

} // namespace kvd::host
