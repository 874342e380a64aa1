#include "acquisition_stop.h"

namespace kvd::stream {

bool AcquisitionStop::start(const ADPara &para) {
    std::unique_lock lock(mutex_);
    if (requested_.load())
        return false;
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
    return started && !stoppedDuringSetUp_;
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

bool AcquisitionStop::rearm(KVD4093_HANDLE card, const std::atomic<bool> &stopAsked) {
    const std::lock_guard lock(mutex_);
    if (stopAsked.load())
        return false;
    card_ = card;
    requested_.store(false);
    done_ = stopped_ = setUpSent_ = settingUp_ = stoppedDuringSetUp_ = false;
    return true;
}

} // namespace kvd::stream
