#include "platform/virtual/shared_clock_line.h"

namespace kvd::vcard {

using Guard = std::lock_guard<std::mutex>;

void SharedClockLine::endTimedDrive(Nanoseconds at) {
    if (timed_)
        counted_ += scans_.ticksBy(at);
    timed_ = false;
}

void SharedClockLine::beginDrive(const void *driver, uint64_t benchScan) {
    driver_ = driver;
    driveScan_ = benchScan;
    driveTicks_ = counted_;
    ++changes_;
}

void SharedClockLine::drive(const void *driver, const SampleClock &scans, uint64_t benchScan) {
    Guard guard(mutex_);
    endTimedDrive(scans.start);
    timed_ = true;
    scans_ = scans;
    beginDrive(driver, benchScan);
}

void SharedClockLine::driveAsRead(const void *driver, Nanoseconds at, uint64_t benchScan) {
    Guard guard(mutex_);
    endTimedDrive(at);
    beginDrive(driver, benchScan);
}

void SharedClockLine::tick(const void *driver, uint64_t scans) {
    Guard guard(mutex_);
    if (driver != driver_ || timed_)
        return;
    counted_ += scans;
    ++changes_;
}

void SharedClockLine::release(const void *driver, Nanoseconds at) {
    Guard guard(mutex_);
    if (driver != driver_)
        return;
    endTimedDrive(at);
    driver_ = nullptr;
    ++changes_;
}

uint64_t SharedClockLine::ticks(Nanoseconds now) const {
    Guard guard(mutex_);
    return counted_ + (timed_ ? scans_.ticksBy(now) : 0);
}

Nanoseconds SharedClockLine::tickedAt(uint64_t count) const {
    Guard guard(mutex_);
    if (count <= counted_)
        return 0;
    return timed_ ? scans_.tickAt(count - counted_) : kNever;
}

Nanoseconds SharedClockLine::benchStart(Nanoseconds at) {
    Guard guard(mutex_);
    if (benchCards_++ == 0)
        benchBegan_ = at;
    return benchBegan_;
}

void SharedClockLine::benchStop() {
    Guard guard(mutex_);
    if (benchCards_ > 0)
        --benchCards_;
}

// Wraps around below driveTicks_ (a tick of an earlier drive): only the
// scan's place in the signal's period counts, and 2^64 is a whole number of periods.
uint64_t SharedClockLine::benchScanOfTick(uint64_t count) const {
    Guard guard(mutex_);
    return driver_ != nullptr ? driveScan_ + (count - driveTicks_) : 0;
}

uint64_t SharedClockLine::changes() const {
    Guard guard(mutex_);
    return changes_;
}

void SharedClockLine::attach(std::weak_ptr<LineListener> listener) { listeners_.push_back(std::move(listener)); }

void SharedClockLine::wakeListeners() const {
    for (const std::weak_ptr<LineListener> &listener : listeners_)
        if (const std::shared_ptr<LineListener> card = listener.lock())
            card->lineChanged();
}

} // namespace kvd::vcard
