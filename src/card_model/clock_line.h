// The clock line between the clock connectors of cards wired together, as on
// a bench: one card drives it, a tick per scan it converts; the cards that
// take it convert one scan per tick they receive, whatever their own divider.
//
// The card model sees only this interface. The line's owner (the owner of the
// cards wired to it) makes it safe to share between cards that are each under
// a lock of their own, and must never call back into a card from it.
#pragma once

#include <cstdint>

#include "card_model/sample_clock.h"

namespace kvd::vcard {

class ClockLine {
public:
    // `driver` tells the cards apart. Two cards driving one line is a wiring
    // fault; the line then follows the card that started driving last, and a
    // card that no longer drives it can neither tick nor release it.

    // The card drives the line from scans.start on: a tick per tick of `scans`,
    // its scan clock, counted on from where the line's count stands. Its
    // first scan is scan `benchScan` of the bench's signal (benchStart).
    virtual void drive(const void *driver, const SampleClock &scans, uint64_t benchScan) = 0;
    // The card converts as fast as it is read: it drives the line from `at`
    // on with a tick per whole scan read, which it counts in with tick().
    virtual void driveAsRead(const void *driver, Nanoseconds at, uint64_t benchScan) = 0;
    virtual void tick(const void *driver, uint64_t scans) = 0;
    // The card stops driving at `at`; the ticks until then stay counted.
    virtual void release(const void *driver, Nanoseconds at) = 0;

    // Ticks carried since the line was made, by `now`.
    virtual uint64_t ticks(Nanoseconds now) const = 0;
    // When ticks() reaches `count` if the line goes on as it does now;
    // kNever while no card drives it by its clock.
    virtual Nanoseconds tickedAt(uint64_t count) const = 0;

    // The bench's time base, which the signal wired to every card follows
    // (sample_stream.h): it begins when a card starts converting on its own
    // clock while no other card converts on its own. A card starting at `at`
    // learns when it began; every card calls benchStop() once for each start.
    virtual Nanoseconds benchStart(Nanoseconds at) = 0;
    virtual void benchStop() = 0;
    // The scan of the bench's signal that tick `count` of the line carries:
    // the driving card's first scan's, plus the ticks since; 0 while no card
    // drives the line (the next driver, on an idle bench, starts at 0).
    virtual uint64_t benchScanOfTick(uint64_t count) const = 0;

protected:
    ~ClockLine() = default; // never deleted through this interface (a kernel driver has no delete)
};

} // namespace kvd::vcard
