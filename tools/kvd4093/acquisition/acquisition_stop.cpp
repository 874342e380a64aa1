#include "acquisition/acquisition_stop.h"

#include <chrono>
#include <utility>

#include "common/system.h"

namespace kvd::tool {
namespace {

// A signal handler may only set a flag; the watching thread looks at it this
// often, which bounds the delay between the signal and the stop.
constexpr auto kSignalPoll = std::chrono::milliseconds(10);

} // namespace

bool AcquisitionStop::start(const ADPara &para) {
    std::unique_lock lock(mutex_);
    if (requested_.load() || stopSignal() != 0) {
        requested_.store(true);
        return false;
    }
    setUpSent_ = true;
    settingUp_ = true;
    lock.unlock();
    // Not under the lock: the set-up's first read may wait for minutes, and
    // a stop from another thread is what ends that wait.
    const bool started = KVD4093_InitDeviceAD(card_, &para) != 0;
    lock.lock();
    settingUp_ = false;
    if (stoppedDuringSetUp_)
        stopped_ = KVD4093_ReleaseDeviceAD(card_) != 0;
    return started;
}

bool AcquisitionStop::stop() {
    requested_.store(true);
    const std::lock_guard lock(mutex_);
    if (!done_) {
        done_ = true;
        stoppedDuringSetUp_ = settingUp_;
        stopped_ = !setUpSent_ || KVD4093_ReleaseDeviceAD(card_) != 0;
    }
    return stopped_;
}

StopOnSignal::StopOnSignal(std::function<void()> stop) : stop_(std::move(stop)), thread_([this] { watch(); }) {}

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
            stop_();
            return;
        }
        finished_.wait_for(lock, kSignalPoll);
    }
}

} // namespace kvd::tool
