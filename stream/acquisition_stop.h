// Stopping a stream's acquisition: once, from whichever thread asks first.
// KVD4093_ReleaseDeviceAD is the one call the card library takes from
// another thread while KVD4093_ReadDeviceAD waits, so KVD4093_StopStream()
// stops the card at once, even at a rate where a read waits for seconds. The
// library watches no signal: a program's signal watcher calls the stop.
#pragma once

#include <atomic>
#include <mutex>

#include "KVD4093.h"

namespace kvd::stream {

class AcquisitionStop {
public:
    explicit AcquisitionStop(KVD4093_HANDLE card) : card_(card) {}
    // A card that nobody stopped is stopped when this goes.
    ~AcquisitionStop() { stop(); }
    AcquisitionStop(const AcquisitionStop &) = delete;
    AcquisitionStop &operator=(const AcquisitionStop &) = delete;

    // Sets the acquisition up (KVD4093_InitDeviceAD) unless a stop was asked
    // for already: then nothing starts and the answer is false, as for a
    // failed set-up. A stop that comes while the set-up runs may reach the
    // card before its start packet, so it is sent once more when the set-up
    // returns (the last stop follows the last start), and the answer is false.
    bool start(const ADPara &para);
    // Stops the card the first time, unless no set-up was ever sent (there
    // is nothing to stop); every call returns whether the last stop sent
    // succeeded.
    bool stop();
    // True once a stop was asked for: a read that returns after it may hold
    // samples taken after the stop.
    bool requested() const { return requested_.load(); }
    // Makes ready for another start, on `card` (the same card opened again
    // after it was pulled out), unless `stopAsked` says the whole stream was
    // stopped meanwhile: then the stop stays and the answer is false.
    bool rearm(KVD4093_HANDLE card, const std::atomic<bool> &stopAsked);

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

} // namespace kvd::stream
