#include "acquisition/acquisition_stop.h"

#include <chrono>

#include "common/system.h"

namespace kvd::tool {
namespace {

// A signal handler may only set a flag; the watching thread looks at it this
// often, which bounds the delay between the signal and the stop.
constexpr auto kSignalPoll = std::chrono::milliseconds(10);

} // namespace

bool AcquisitionStop::stop() {
    requested_.store(true);
    const std::lock_guard lock(mutex_);
    if (!done_) {
        done_ = true;
        stopped_ = KVD4093_ReleaseDeviceAD(card_) != 0;
    }
    return stopped_;
}

StopOnSignal::StopOnSignal(AcquisitionStop &stop) : stop_(stop), thread_([this] { watch(); }) {}

StopOnSignal::~StopOnSignal() {
    {
        const std::lock_guard lock(mutex_);
        finishing_ = true;
    }
    finished_.notify_one();
    thread_.join();
}

void StopOnSignal::watch() {
    std::unique_lock lock(mutex_);
    while (!finishing_) {
        if (stopSignal() != 0) {
            lock.unlock();
            stop_.stop();
            return;
        }
        finished_.wait_for(lock, kSignalPoll);
    }
}

} // namespace kvd::tool
