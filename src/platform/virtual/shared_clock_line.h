// The clock line the virtual cards of one installation share, as cards wired
// together on a bench: every card's clock connector is on it. The registry of
// cards makes one with every install(); the emulated USB card, whose cards are
// virtual cards, shares it the same way.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "card_model/clock_line.h"

namespace kvd::vcard {

// A card wired to the line, told when the line changes so that a read
// waiting for ticks looks again.
class LineListener {
public:
    virtual ~LineListener() = default;
    virtual void lineChanged() = 0;
};

class SharedClockLine final : public ClockLine {
public:
    void drive(const void *driver, const SampleClock &scans, uint64_t benchScan) override;
    void driveAsRead(const void *driver, Nanoseconds at, uint64_t benchScan) override;
    void tick(const void *driver, uint64_t scans) override;
    void release(const void *driver, Nanoseconds at) override;
    uint64_t ticks(Nanoseconds now) const override;
    Nanoseconds tickedAt(uint64_t count) const override;
    Nanoseconds benchStart(Nanoseconds at) override;
    void benchStop() override;
    uint64_t benchScanOfTick(uint64_t count) const override;

    // Counts the line's changes: a driver started or stopped, ticks read.
    uint64_t changes() const;
    // Wires a card to the line; only while the cards are being put in place,
    // before any request reaches them (the list is read without the lock).
    void attach(std::weak_ptr<LineListener> listener);
    // Tells every card on the line that it changed. The caller holds no
    // card's lock: each listener takes its own.
    void wakeListeners() const;

private:
    // The lock must be held. Counts in the ticks of the timed drive until `at`.
    void endTimedDrive(Nanoseconds at);
    void beginDrive(const void *driver, uint64_t benchScan);

    // A leaf lock: nothing is called while it is held.
    mutable std::mutex mutex_;
    const void *driver_ = nullptr;
    bool timed_ = false;
    SampleClock scans_;   // the timed driver's scan clock
    uint64_t counted_ = 0; // ticks of earlier drives and of reads
    uint64_t changes_ = 0;
    uint64_t driveScan_ = 0;  // the bench's scan of the driver's first tick
    uint64_t driveTicks_ = 0; // the line's count when the driver began
    uint32_t benchCards_ = 0; // cards converting on their own clock
    Nanoseconds benchBegan_ = 0;
    std::vector<std::weak_ptr<LineListener>> listeners_;
};

} // namespace kvd::vcard
