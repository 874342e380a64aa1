#include "reconnection.h"

#include <algorithm>
#include <cstdio>
#include <thread>
#include <vector>

namespace kvd::stream {
namespace {

using Clock = std::chrono::steady_clock;

// How often a lost card is looked for.
constexpr auto kLookEvery = std::chrono::milliseconds(250);

bool isOpenCard(KVD4093_HANDLE card) { return card != nullptr && card != KVD4093_INVALID_HANDLE; }

std::string seconds(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

} // namespace

std::optional<size_t> Reconnection::lostCard() const {
    for (size_t i = 0; i < cards_.size(); ++i)
        if (cards_.lost(i))
            return i;
    return std::nullopt;
}

std::string Reconnection::lostText(size_t lost, uint64_t lostAtScan) const {
    return "card ID " + std::to_string(cards_.member(lost).physicalId) + " lost at scan " + std::to_string(lostAtScan);
}

// Opened by its physical ID, so a card of another ID in the same port is
// never taken; the ID is read once more from the card that opened.
bool Reconnection::reopen(std::vector<size_t> &away) {
    for (auto i = away.begin(); i != away.end();) {
        const int32_t id = cards_.member(*i).physicalId;
        KVD4093_HANDLE card = KVD4093_CreateDeviceEx(id);
        int32_t logical = 0, physical = -1;
        if (isOpenCard(card) && KVD4093_GetDeviceCurrentID(card, &logical, &physical) && physical == id) {
            cards_.replace(*i, card);
            i = away.erase(i);
            continue;
        }
        if (isOpenCard(card))
            KVD4093_ReleaseDevice(card);
        ++i;
    }
    return away.empty();
}

std::optional<Restart> Reconnection::reconnect(size_t lost, uint64_t lostAtScan, std::string *why) {
    waiting_.store(true);
    struct Waited {
        std::atomic<bool> &waiting;
        ~Waited() { waiting.store(false); }
    } waited{waiting_};
    why->clear();
    const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(
                                             std::max(waitSeconds_, 0.0)));
    bool outputsLost = false;
    Restart restart;
    // A card pulled out again while it is being taken back is waited for again.
    for (;;) {
        cards_.stopCards();
        std::vector<size_t> away;
        for (size_t i = 0; i < cards_.size(); ++i) {
            if (cards_.lost(i)) {
                away.push_back(i);
                cards_.replace(i, nullptr); // the dead handle goes at once
            }
        }
        outputsLost = outputsLost || (!away.empty() && away.front() == 0);
        while (!reopen(away)) {
            if (cards_.stopRequested())
                return std::nullopt;
            if (waitSeconds_ >= 0 && Clock::now() >= deadline) {
                *why = lostText(lost, lostAtScan) + ": not back within " + seconds(waitSeconds_) + " s";
                return std::nullopt;
            }
            std::this_thread::sleep_for(kLookEvery);
        }
        const bool restored = !outputsLost || outputs_.restore(cards_.handle(0));
        if (restored && (!cards_.rearm() || cards_.start(noClockWait_, &restart.start, why)))
            break;
        if (cards_.stopRequested()) {
            why->clear();
            return std::nullopt;
        }
        if (!lostCard()) {
            *why = lostText(lost, lostAtScan) + (restored ? ", back, but not started again: " + *why
                                                          : ": back, but its DA and digital outputs could not be written again");
            return std::nullopt;
        }
        why->clear();
    }
    if (cards_.stopRequested())
        return std::nullopt;
    restart.firstScan = std::max(lostAtScan, segments_.scanAt(restart.start, scanRate_));
    segments_.add(restart.start, restart.firstScan, lostAtScan, cards_.member(lost).physicalId);
    return restart;
}

} // namespace kvd::stream
