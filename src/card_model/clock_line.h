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
    // its scan clock, counted on from where the line's count stands.
    virtual void drive(const void *driver, const SampleClock &scans) = 0;
    // The card converts as fast as it is read: it drives the line from `at`
    // on with a tick per whole scan read, which it counts in with tick().
    virtual void driveAsRead(const void *driver, Nanoseconds at) = 0;
    virtual void tick(const void *driver, uint64_t scans) = 0;
    // The card stops driving at `at`; the ticks until then stay counted.
    virtual void release(const void *driver, Nanoseconds at) = 0;

    // Ticks carried since the line was made, by `now`.
    virtual uint64_t ticks(Nanoseconds now) const = 0;
    // When ticks() reaches `count` if the line goes on as it does now;
    // kNever while no card drives it by its clock.
    virtual Nanoseconds tickedAt(uint64_t count) const = 0;

protected:
    ~ClockLine() = default; // never deleted through this interface (a kernel driver has no delete)
};

} // namespace kvd::vcard
