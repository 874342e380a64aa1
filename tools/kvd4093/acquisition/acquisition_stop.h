// Stopping a running acquisition: once, from whichever thread asks first.
// KVD4093_ReleaseDeviceAD is the one call the library takes from another
// thread while KVD4093_ReadDeviceAD waits, so a stop signal stops the card
// at once, even at a rate where a read waits for seconds.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "KVD4093.h"

namespace kvd::tool {

// Scope-bound: a card that nobody stopped is stopped when this goes, so no
// way out of an acquisition (a failed read, a failed write, an exception)
// leaves it running.
class AcquisitionStop {
public:
    explicit AcquisitionStop(KVD4093_HANDLE card) : card_(card) {}
    ~AcquisitionStop() { stop(); }
    AcquisitionStop(const AcquisitionStop &) = delete;
    AcquisitionStop &operator=(const AcquisitionStop &) = delete;

    // Sets the acquisition up (KVD4093_InitDeviceAD) unless a stop was asked
    // for already, here or by a stop signal: then nothing starts and the
    // answer is false, as for a failed set-up. A stop that comes while the
    // set-up runs may reach the card before its start packet, so it is sent
    // once more when the set-up returns: the last stop follows the last start.
    bool start(const ADPara &para);
    // Stops the card the first time, unless no set-up was ever sent (there
    // is nothing to stop); every call returns whether the last stop sent
    // succeeded.
    bool stop();
    // True once a stop was asked for: a read that returns after it may hold
    // samples taken after the stop.
    bool requested() const { return requested_.load(); }

private:
    KVD4093_HANDLE card_;
    std::mutex mutex_;
    std::atomic<bool> requested_{false};
    bool done_ = false;
    bool stopped_ = false;
    bool setUpSent_ = false;
    bool settingUp_ = false;
    bool stoppedDuringSetUp_ = false;
};

// A thread that stops the acquisition as soon as a stop signal (system.h)
// arrives, while the main thread may be waiting in a read: it calls `stop`
// once (acquire's KVD4093_StopStream, the panel's AcquisitionStop).
class StopOnSignal {
public:
    explicit StopOnSignal(std::function<void()> stop);
    explicit StopOnSignal(AcquisitionStop &stop) : StopOnSignal([&stop] { stop.stop(); }) {}
    ~StopOnSignal();
    StopOnSignal(const StopOnSignal &) = delete;
    StopOnSignal &operator=(const StopOnSignal &) = delete;

private:
    void watch();

    std::function<void()> stop_;
    std::mutex mutex_;
    std::condition_variable finished_;
    bool finishing_ = false;
    std::thread thread_;
};

} // namespace kvd::tool
