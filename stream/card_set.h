// The cards of a stream: one card, or a group whose first card drives the
// clock that the others convert on. Each card has its record (the clock
// fields set for its place in the group) and its acquisition's stop; the
// set starts and stops them in the order the clock needs.
//
//   CardSet cards(members, ClockMode::Shared, ownsCards);
//   if (!cards.start(noClockWait, &why)) ...   // takers first, the driver last
//   ... one BlockReader per card ...
//   cards.stop();                                // every card, takers first
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "KVD4093.h"
#include "acquisition_stop.h"

namespace kvd::stream {

enum class ClockMode {
    Shared,      // the first card drives the clock, the others take it
    Independent, // every card on its own clock, started one after the other
};

// A card of the set: an open handle, its physical ID and the record it is set up with.
struct CardMember {
    KVD4093_HANDLE handle = nullptr;
    int32_t physicalId = 0;
    ADPara record{};
};

class CardSet {
public:
    // `ownsCards`: the handles are released when the set goes.
    CardSet(std::vector<CardMember> members, ClockMode mode, bool ownsCards);
    ~CardSet();
    CardSet(const CardSet &) = delete;
    CardSet &operator=(const CardSet &) = delete;

    size_t size() const { return cards_.size(); }
    const CardMember &member(size_t i) const { return cards_[i]->member; }
    AcquisitionStop &stopOf(size_t i) { return cards_[i]->stop; }
    bool grouped() const { return cards_.size() > 1; }
    bool clockShared() const { return grouped() && mode_ == ClockMode::Shared; }

    // Sets every card up and starts it (KVD4093_InitDeviceAD). `beforeStart`
    // is the steady clock just before the first tick: the driving card's
    // start, or the first card's. On failure every card is stopped and
    // *why says which card failed and how.
    bool start(std::chrono::milliseconds noClockWait, std::chrono::steady_clock::time_point *beforeStart,
               std::string *why);
    // Stops every card, whatever fails; true when every card took its stop.
    bool stop();
    // True once stop() was called (a card's reader stopping its own card at the end is not).
    bool stopRequested() const { return stopAsked_.load(); }

    // "card ID 9 received no clock: is its clock input wired to card ID 7's clock output?"
    std::string noClockMessage(size_t taker) const;
    // "card ID 9" (a group) or "" (one card): what a message about a card starts with.
    std::string label(size_t i) const;

private:
    struct Card {
        explicit Card(const CardMember &member) : member(member), stop(member.handle) {}
        CardMember member;
        AcquisitionStop stop;
    };
    bool startShared(std::chrono::milliseconds noClockWait, std::chrono::steady_clock::time_point *beforeStart,
                     std::string *why);
    bool startInOrder(std::chrono::steady_clock::time_point *beforeStart, std::string *why);
    std::string setUpFailure(size_t i) const;
    // Every card's stop, in the order of stop(), without counting as a stop asked for.
    bool stopCards();

    std::vector<std::unique_ptr<Card>> cards_;
    const ClockMode mode_;
    const bool ownsCards_;
    std::atomic<bool> stopAsked_{false};
};

} // namespace kvd::stream
