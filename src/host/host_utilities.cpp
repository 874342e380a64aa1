#include "host/host_utilities.h"

#include <string>

#include "device/device_object.h"
#include "core/messages.h"
#include "platform/platform.h"

namespace kvd::host {
namespace {

platform::Handle *asPlatformHandle(KVD4093_HANDLE handle) { return static_cast<platform::Handle *>(handle); }

// The installation folder as the exported query gives it: a 256-byte
// buffer announced as 128, so the text always ends inside the buffer.
std::string installationFolder() {
    char folder[256] = {};
    KVD4093_GetAppPath(folder, 128);
    folder[sizeof folder - 1] = '\0';
    return folder;
}

constexpr uint32_t kShowHidden = 0;
constexpr uint32_t kPathNotFound = 3;
constexpr double kMicrosecondsPerSecond = 1000000.0;

} // namespace

int32_t createVbThread(KVD4093_HANDLE *phThread, KVD4093_THREAD_ROUTINE routine) {
    if (phThread == nullptr)
        return 0; // nowhere to put the handle: a thread made now could never be reached
    platform::Handle *thread = platform::createSuspendedThread(routine, nullptr);
    *phThread = thread;
    if (thread != nullptr)
        return 1;
    platform::showMessage(text::kThreadCreateFailed, text::kThreadCaption, platform::kMessageOk);
    return 0;
}

int32_t terminateVbThread(KVD4093_HANDLE hThread) {
    uint32_t exitCode = 0;
    if (!platform::threadExitCode(asPlatformHandle(hThread), &exitCode))
        return 0;
    return platform::terminateThread(asPlatformHandle(hThread), exitCode) ? 1 : 0;
}

KVD4093_HANDLE createSystemEvent() { return platform::createAutoResetEvent(); }

int32_t releaseSystemEvent(KVD4093_HANDLE handle) { return platform::closeHandle(asPlatformHandle(handle)) ? 1 : 0; }

int32_t browseHelpInfo() {
    const std::string path = installationFolder() + text::kHelpDocumentSuffix;
    platform::showMessage(path.c_str(), text::kApplicationName, platform::kMessageOk);
    if (platform::startProgram(path.c_str(), kShowHidden) == kPathNotFound)
        platform::showMessage(text::kHelpPathNotFound, text::kApplicationName, platform::kMessageOk);
    return 1;
}

void busyWaitMicroseconds(int32_t microseconds, int64_t frequency, const std::function<int64_t()> &readCounter) {
    const double requested = static_cast<double>(microseconds);
    const int64_t start = readCounter();
    if (frequency <= 0)
        return;
    for (;;) {
        // Unsigned subtraction: a counter that wraps gives the true difference.
        const auto ticks = static_cast<int64_t>(static_cast<uint64_t>(readCounter()) - static_cast<uint64_t>(start));
        const double elapsed = static_cast<double>(ticks) / static_cast<double>(frequency) * kMicrosecondsPerSecond;
        if (elapsed > requested)
            return;
    }
}

int32_t delayTimeUs(KVD4093_HANDLE hDevice, int32_t microseconds) {
    if (device::liveDevice(hDevice) == nullptr)
        return 0;
    busyWaitMicroseconds(microseconds, platform::performanceFrequency(), &platform::performanceCounter);
    return 1;
}

} // namespace kvd::host
