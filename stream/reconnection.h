// A card pulled out during a stream, taken back: every card stops, the lost
// ones are looked for by their physical ID every quarter second until the
// wait runs out, opened again, given back the outputs written through the
// stream, and the whole set starts again through CardSet::start, in the
// order the clock needs. The new start is a new segment, whose first scan is
// where the card's clock would be by the host's clock.
//
//   Reconnection reconnection(cards, outputs, segments, scanRate, waitSeconds, noClockWait);
//   if (const auto lost = reconnection.lostCard())
//       if (const auto restart = reconnection.reconnect(*lost, nextScan, &why)) ...read on from restart->firstScan
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "card_outputs.h"
#include "card_set.h"
#include "segments.h"

namespace kvd::stream {

struct Restart {
    uint64_t firstScan = 0;                       // the index of the new segment's first scan
    std::chrono::steady_clock::time_point start;  // just before the (driving) card started
};

class Reconnection {
public:
    // `waitSeconds` below 0: no limit.
    Reconnection(CardSet &cards, const CardOutputs &outputs, Segments &segments, double scanRate, double waitSeconds,
                 std::chrono::milliseconds noClockWait)
        : cards_(cards), outputs_(outputs), segments_(segments), scanRate_(scanRate), waitSeconds_(waitSeconds),
          noClockWait_(noClockWait) {}

    // The first card of the set that was pulled out, after a failed read.
    std::optional<size_t> lostCard() const;
    // Takes the cards back after card `lost` was pulled out with `lostAtScan`
    // the next scan to read. Nothing when the stream was stopped meanwhile
    // (*why empty) or the cards could not be taken back (*why says why).
    std::optional<Restart> reconnect(size_t lost, uint64_t lostAtScan, std::string *why);
    // Card i's handle: after a reconnection, the card opened again.
    KVD4093_HANDLE card(size_t i) const { return cards_.handle(i); }
    // True while reconnect() runs; from any thread.
    bool waiting() const { return waiting_.load(); }

private:
    // Opens every lost card again; false while some are still away.
    bool reopen(std::vector<size_t> &away);
    std::string lostText(size_t lost, uint64_t lostAtScan) const;

    CardSet &cards_;
    const CardOutputs &outputs_;
    Segments &segments_;
    const double scanRate_;
    const double waitSeconds_;
    const std::chrono::milliseconds noClockWait_;
    std::atomic<bool> waiting_{false};
};

} // namespace kvd::stream
