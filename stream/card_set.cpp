#include "card_set.h"

#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include "card_message.h"

namespace kvd::stream {
namespace {

using Clock = std::chrono::steady_clock;

// The card library gives no sign that a set-up's start packet has left:
// KVD4093_InitDeviceAD sends its range words, the configuration and the
// start (a few milliseconds on USB), then waits in its read for 512 samples.
// The driving card starts this long after every taker has entered its
// set-up, so that every taker is waiting for the first tick.
constexpr auto kTakerSettle = std::chrono::milliseconds(200);

} // namespace

CardSet::CardSet(std::vector<CardMember> members, ClockMode mode, bool ownsCards) : mode_(mode) {
    for (const CardMember &member : members)
        cards_.push_back(std::make_unique<Card>(member, ownsCards));
}

CardSet::~CardSet() {
    stop();
    for (const auto &card : cards_)
        if (card->owned && card->member.handle != nullptr)
            KVD4093_ReleaseDevice(card->member.handle);
}

CardMember CardSet::member(size_t i) const {
    const std::lock_guard lock(handlesMutex_);
    return cards_[i]->member;
}

bool CardSet::lost(size_t i) const { return KVD4093_GetDeviceCount(handle(i)) == 0; }

void CardSet::replace(size_t i, KVD4093_HANDLE card) {
    Card &member = *cards_[i];
    KVD4093_HANDLE old = nullptr;
    {
        const std::lock_guard lock(handlesMutex_);
        old = member.owned ? member.member.handle : nullptr;
        member.member.handle = card;
        member.owned = true;
    }
    if (old != nullptr)
        KVD4093_ReleaseDevice(old);
}

bool CardSet::rearm() {
    bool armed = true;
    for (size_t i = 0; i < cards_.size(); ++i)
        armed = cards_[i]->stop.rearm(handle(i), stopAsked_) && armed;
    return armed;
}

std::string CardSet::label(size_t i) const {
    return grouped() ? "card ID " + std::to_string(member(i).physicalId) : std::string();
}

std::string CardSet::noClockMessage(size_t taker) const {
    return label(taker) + " received no clock: is its clock input wired to " + label(0) + "'s clock output?";
}

std::string CardSet::setUpFailure(size_t i) const {
    const std::string failed = "KVD4093_InitDeviceAD failed: " + cardMessage("KVD4093_InitDeviceAD");
    return grouped() ? label(i) + ": " + failed : failed;
}

bool CardSet::start(std::chrono::milliseconds noClockWait, Clock::time_point *beforeStart, std::string *why) {
    const bool started = clockShared() ? startShared(noClockWait, beforeStart, why) : startInOrder(beforeStart, why);
    if (!started)
        stopCards();
    return started;
}

bool CardSet::startInOrder(Clock::time_point *beforeStart, std::string *why) {
    *beforeStart = Clock::now();
    for (size_t i = 0; i < cards_.size(); ++i) {
        if (!cards_[i]->stop.start(cards_[i]->member.record)) {
            *why = setUpFailure(i);
            return false;
        }
    }
    return true;
}

// The takers' set-ups wait for ticks, so each runs on a thread of its own;
// the driving card starts once every taker waits, and its set-up returns
// after 512 samples of its own clock, by which time the takers have had the
// same ticks: a taker whose set-up has not returned within the no-clock wait
// after it receives no clock.
bool CardSet::startShared(std::chrono::milliseconds noClockWait, Clock::time_point *beforeStart, std::string *why) {
    struct SetUp {
        bool entered = false;
        bool returned = false;
        bool ok = false;
    };
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<SetUp> setUps(cards_.size());
    std::vector<std::thread> threads;
    const auto setUp = [&](size_t i) {
        {
            const std::lock_guard lock(mutex);
            setUps[i].entered = true;
        }
        changed.notify_all();
        const bool ok = cards_[i]->stop.start(cards_[i]->member.record);
        {
            const std::lock_guard lock(mutex);
            setUps[i].returned = true;
            setUps[i].ok = ok;
        }
        changed.notify_all();
    };
    const auto takers = [&](auto test) {
        for (size_t i = 1; i < setUps.size(); ++i)
            if (!test(setUps[i]))
                return false;
        return true;
    };
    const auto noneFailed = [&] { return takers([](const SetUp &s) { return !s.returned || s.ok; }); };
    bool ok = true;
    try {
        for (size_t i = 1; i < cards_.size(); ++i)
            threads.emplace_back(setUp, i);
    } catch (const std::system_error &) {
        *why = "a thread to set a card of the group up could not be started";
        ok = false;
    }
    if (ok) {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return takers([](const SetUp &s) { return s.entered; }); });
        changed.wait_for(lock, kTakerSettle, [&] { return !noneFailed(); });
    }
    if (ok && noneFailed()) {
        *beforeStart = Clock::now();
        if (!cards_[0]->stop.start(cards_[0]->member.record)) {
            *why = setUpFailure(0);
            ok = false;
        }
    }
    if (ok) {
        std::unique_lock lock(mutex);
        changed.wait_for(lock, noClockWait, [&] { return takers([](const SetUp &s) { return s.returned; }); });
        for (size_t i = 1; i < setUps.size() && ok; ++i) {
            if (!setUps[i].returned || !setUps[i].ok) {
                *why = setUps[i].returned ? setUpFailure(i) : noClockMessage(i);
                ok = false;
            }
        }
    } else if (why->empty()) {
        for (size_t i = 1; i < setUps.size(); ++i)
            if (setUps[i].returned && !setUps[i].ok)
                *why = setUpFailure(i);
    }
    // A set-up still waiting for ticks returns once its card is stopped.
    if (!ok)
        stopCards();
    for (std::thread &thread : threads)
        thread.join();
    return ok;
}

// A group on a shared clock stops its takers first, then the driving card:
// a taker stopped while the clock still ticks ends on a whole scan, whereas
// a driving card stopped first would leave every taker converting on a
// clock that stopped mid-scan, its read waiting for ticks that never come.
// Every card gets its stop whatever the stops before it answered.
bool CardSet::stop() {
    stopAsked_.store(true);
    return stopCards();
}

bool CardSet::stopCards() {
    bool stopped = true;
    for (size_t i = 1; i < cards_.size(); ++i)
        stopped = cards_[i]->stop.stop() && stopped;
    return cards_.front()->stop.stop() && stopped;
}

} // namespace kvd::stream
