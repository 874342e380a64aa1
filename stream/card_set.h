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
#include <mutex>
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
    // A copy: a reconnection may change the handle meanwhile.
    CardMember member(size_t i) const;
    KVD4093_HANDLE handle(size_t i) const { return member(i).handle; }
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
    // Every card's stop, in the order of stop(), without counting as a stop
    // asked for: the cards are to start again.
    bool stopCards();
    // True when card i was pulled out: its handle fails every request, even
    // the count of cards, which the driver answers without the card.
    bool lost(size_t i) const;
    // Card i opened again as `card`, which the set releases when it goes (a
    // handle the set opened before is released now).
    void replace(size_t i, KVD4093_HANDLE card);
    // Makes every card ready for start() again; false when stop() came first.
    bool rearm();
    // True once stop() was called (a card's reader stopping its own card at the end is not).
    bool stopRequested() const { return stopAsked_.load(); }

    // "card ID 9 received no clock: is its clock input wired to card ID 7's clock output?"
    std::string noClockMessage(size_t taker) const;
    // "card ID 9" (a group) or "" (one card): what a message about a card starts with.
    std::string label(size_t i) const;

private:
    struct Card {
        Card(const CardMember &member, bool owned) : member(member), stop(member.handle), owned(owned) {}
        CardMember member;
        AcquisitionStop stop;
        bool owned; // released by the set
    };
    bool startShared(std::chrono::milliseconds noClockWait, std::chrono::steady_clock::time_point *beforeStart,
                     std::string *why);
    bool startInOrder(std::chrono::steady_clock::time_point *beforeStart, std::string *why);
    std::string setUpFailure(size_t i) const;

    std::vector<std::unique_ptr<Card>> cards_;
    const ClockMode mode_;
    mutable std::mutex handlesMutex_; // the members' handles, which a reconnection replaces
    std::atomic<bool> stopAsked_{false};
};

} // namespace kvd::stream
