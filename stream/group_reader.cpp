#include "group_reader.h"

#include <algorithm>

#include "KVD4093_stream.h"

namespace kvd::stream {
namespace {

using Clock = std::chrono::steady_clock;

// A stop and the no-clock wait are looked at this often while the merger
// waits for a card's block.
constexpr auto kPoll = std::chrono::milliseconds(10);

uint64_t largestBacklogOf(const std::vector<std::unique_ptr<BlockReader>> &readers, uint64_t most) {
    for (const auto &reader : readers)
        most = std::max(most, reader->largestBacklog());
    return most;
}

} // namespace

GroupReader::GroupReader(CardSet &cards, BlockQueue &queue, const ReadPlan &plan, size_t cardDepth,
                         uint32_t cardBlockScans, std::chrono::milliseconds noClockWait, ReadObserver &observer,
                         Reconnection *reconnection)
    : cards_(cards), queue_(queue), plan_(plan), cardDepth_(cardDepth), cardBlockScans_(cardBlockScans),
      noClockWait_(noClockWait), observer_(observer), reconnection_(reconnection), cursors_(cards.size()),
      mergeFrom_(cards.size()) {
    startCardReaders();
    thread_ = std::thread([this] { run(); });
}

// Every card's queue and reader, for the segment of plan_.
void GroupReader::startCardReaders() {
    cardQueues_.clear();
    cardEnds_.clear();
    for (size_t i = 0; i < cards_.size(); ++i) {
        cardQueues_.push_back(std::make_unique<BlockQueue>(cardDepth_, cardBlockScans_, plan_.channels));
        cardEnds_.push_back(std::make_unique<CardEnd>());
        cursors_[i] = {nullptr, 0, plan_.start};
    }
    const std::lock_guard lock(readersMutex_);
    for (size_t i = 0; i < cards_.size(); ++i)
        readers_.push_back(std::make_unique<BlockReader>(cards_.handle(i), cards_.stopOf(i), *cardQueues_[i], plan_,
                                                         *cardEnds_[i]));
}

// The readers go before the cards start again: a reader that goes stops its card.
void GroupReader::stopCardReaders() {
    cards_.stopCards();
    for (const auto &reader : readers_)
        reader->join();
    const std::lock_guard lock(readersMutex_);
    largestBefore_ = largestBacklogOf(readers_, largestBefore_);
    readers_.clear();
    for (size_t i = 0; i < cursors_.size(); ++i) {
        if (cursors_[i].block != nullptr)
            cardQueues_[i]->release(cursors_[i].block);
        cursors_[i].block = nullptr;
    }
}

bool GroupReader::reconnectAfterLoss(ReadResult *result) {
    if (reconnection_ == nullptr || !result->failure || cards_.stopRequested())
        return false;
    const std::optional<size_t> lost = reconnection_->lostCard();
    if (!lost)
        return false;
    stopCardReaders();
    std::string why;
    const std::optional<Restart> restart = reconnection_->reconnect(*lost, handedOn_, &why);
    if (!restart) {
        result->failure = why.empty() ? std::nullopt : std::optional<std::string>(why);
        return false;
    }
    *result = {};
    plan_.start = restart->start;
    plan_.firstScan = restart->firstScan;
    pendingAway_ = true;
    startCardReaders();
    return true;
}

GroupReader::~GroupReader() {
    cards_.stop();
    join();
}

void GroupReader::join() {
    if (thread_.joinable())
        thread_.join();
    for (const auto &reader : readers_)
        reader->join();
}

uint64_t GroupReader::backlog() const {
    const std::lock_guard lock(readersMutex_);
    uint64_t most = 0;
    for (const auto &reader : readers_)
        most = std::max(most, reader->backlog());
    return most;
}

uint64_t GroupReader::largestBacklog() const {
    const std::lock_guard lock(readersMutex_);
    return largestBacklogOf(readers_, largestBefore_);
}

void GroupReader::run() {
    ReadResult result;
    while (!cards_.stopRequested() && (plan_.plannedScans == 0 || handedOn_ < plan_.plannedScans)) {
        if (!fillHeads(&result)) {
            if (reconnectAfterLoss(&result))
                continue;
            break;
        }
        if (!align())
            continue;
        const uint64_t first = cursors_.front().next();
        uint32_t scans = queue_.blockScans();
        for (const Cursor &cursor : cursors_)
            scans = std::min(scans, cursor.left());
        Block *block = blockInTime(queue_, caughtUp(first + scans), [this] { return cards_.stopRequested(); });
        if (cards_.stopRequested()) {
            if (block != nullptr)
                queue_.release(block);
            break;
        }
        if (block == nullptr && plan_.onOverrun == OverrunChoice::Stop) {
            result.overrun = true;
            break;
        }
        // Dropped for want of room, the scans count in the next block's gap.
        if (block != nullptr) {
            merge(block, scans);
            *block = {block->samples, first, scans, first - handedOn_, pendingAway_ && first > handedOn_};
            pendingAway_ = false;
            scansLost_.fetch_add(first - handedOn_, std::memory_order_relaxed);
            handedOn_ = first + scans;
            observer_.queued(*block);
            scansQueued_.fetch_add(scans, std::memory_order_relaxed);
            queue_.push(block);
        }
        advance(scans);
    }
    for (size_t i = 0; i < cursors_.size(); ++i)
        if (cursors_[i].block != nullptr)
            cardQueues_[i]->release(cursors_[i].block);
    cards_.stop();
    observer_.ended(result);
    running_.store(false);
    queue_.close();
}

// The driving card first: while the merger waits for a taker, the driver's
// block shows that the clock ran.
bool GroupReader::fillHeads(ReadResult *result) {
    for (size_t i = 0; i < cursors_.size(); ++i)
        if (cursors_[i].block == nullptr && !fillHead(i, result))
            return false;
    return true;
}

bool GroupReader::fillHead(size_t card, ReadResult *result) {
    for (;;) {
        const BlockQueue::Popped popped = cardQueues_[card]->pop(Clock::now() + kPoll);
        const auto now = Clock::now();
        if (popped.block != nullptr) {
            cursors_[card] = {popped.block, 0, now};
            return true;
        }
        if (popped.ended) {
            cardEnded(card, result);
            return false;
        }
        if (cards_.stopRequested() || otherCardFailed(card, result))
            return false;
        if (noClock(card, now)) {
            result->failure = cards_.noClockMessage(card);
            result->described = true;
            return false;
        }
    }
}

void GroupReader::cardEnded(size_t card, ReadResult *result) const {
    const ReadResult &ended = cardEnds_[card]->result;
    result->overrun = ended.overrun;
    if (ended.failure) {
        result->failure = cards_.label(card) + (cards_.lost(card) ? " was unplugged: " : ": ") +
                          "KVD4093_ReadDeviceAD failed: " + *ended.failure;
        result->described = true;
    }
}

// A card that failed while the merger waits for another (a taker waiting for
// the ticks of a driving card pulled out) ends the wait.
bool GroupReader::otherCardFailed(size_t card, ReadResult *result) const {
    for (size_t other = 0; other < readers_.size(); ++other) {
        if (other != card && !readers_[other]->running() && cardEnds_[other]->result.failure) {
            cardEnded(other, result);
            return true;
        }
    }
    return false;
}

// A taker owes the scans of the driver's block once that block came; one
// that delivers none of them for the whole wait receives no clock.
bool GroupReader::noClock(size_t card, Clock::time_point now) const {
    if (card == 0 || !cards_.clockShared() || cursors_.front().block == nullptr)
        return false;
    const Cursor &taker = cursors_[card];
    return now - std::max(taker.arrived, cursors_.front().arrived) > noClockWait_;
}

bool GroupReader::align() {
    uint64_t latest = 0;
    for (const Cursor &cursor : cursors_)
        latest = std::max(latest, cursor.next());
    bool aligned = true;
    for (size_t i = 0; i < cursors_.size(); ++i) {
        Cursor &cursor = cursors_[i];
        if (cursor.next() >= latest)
            continue;
        if (cursor.block->firstScan + cursor.block->scans > latest) {
            cursor.taken = uint32_t(latest - cursor.block->firstScan);
            continue;
        }
        cardQueues_[i]->release(cursor.block);
        cursor.block = nullptr;
        aligned = false;
    }
    return aligned;
}

void GroupReader::advance(uint32_t scans) {
    for (size_t i = 0; i < cursors_.size(); ++i) {
        Cursor &cursor = cursors_[i];
        cursor.taken += scans;
        if (cursor.left() == 0) {
            cardQueues_[i]->release(cursor.block);
            cursor.block = nullptr;
        }
    }
}

namespace {

// Scan after scan, each card's channels in turn, so that the merged block is
// written once, in order, while the cards' blocks are read as parallel
// streams. `kChannels` and `kCards` known at compile time for the usual
// counts let the compiler unroll a scan into a few moves. The cards'
// pointers are copied in and `out` is declared not to alias them: a copy may
// alias any object, and the compiler would otherwise load every card's
// pointer again after each copy, which made the merge several times slower
// than a memcpy of the same bytes.
template <uint32_t kChannels, size_t kCards>
void interleave(const uint16_t *const *in, size_t cards, uint16_t *__restrict out, uint32_t scans,
                uint32_t channels) {
    const uint32_t n = kChannels != 0 ? kChannels : channels;
    const size_t m = kCards != 0 ? kCards : cards;
    const uint16_t *from[KVD4093_STREAM_MOST_CARDS];
    std::copy_n(in, m, from);
    for (size_t at = 0; at < size_t(scans) * n; at += n)
        for (size_t card = 0; card < m; ++card, out += n)
            std::copy_n(from[card] + at, n, out);
}

template <uint32_t kChannels>
void interleaveCards(const uint16_t *const *in, size_t cards, uint16_t *out, uint32_t scans, uint32_t channels) {
    switch (cards) {
    case 2: interleave<kChannels, 2>(in, cards, out, scans, channels); break;
    case 3: interleave<kChannels, 3>(in, cards, out, scans, channels); break;
    case 4: interleave<kChannels, 4>(in, cards, out, scans, channels); break;
    default: interleave<kChannels, 0>(in, cards, out, scans, channels); break;
    }
}

} // namespace

void GroupReader::merge(Block *block, uint32_t scans) {
    const uint32_t channels = plan_.channels;
    for (size_t i = 0; i < cursors_.size(); ++i)
        mergeFrom_[i] = cursors_[i].block->samples + size_t(cursors_[i].taken) * channels;
    const uint16_t *const *in = mergeFrom_.data();
    const size_t cards = cursors_.size();
    switch (channels) {
    case 1: interleaveCards<1>(in, cards, block->samples, scans, channels); break;
    case 2: interleaveCards<2>(in, cards, block->samples, scans, channels); break;
    case 4: interleaveCards<4>(in, cards, block->samples, scans, channels); break;
    case 8: interleaveCards<8>(in, cards, block->samples, scans, channels); break;
    default: interleaveCards<0>(in, cards, block->samples, scans, channels); break;
    }
}

// When the card's clock has converted the scans before `scansEnd`, the
// set-up's 512 samples and the partial scan after them included.
Clock::time_point GroupReader::caughtUp(uint64_t scansEnd) const {
    const uint64_t setUpScans = (BlockReader::kSetUpSamples + plan_.channels - 1) / plan_.channels;
    const double samples = double(setUpScans + scansEnd - plan_.firstScan) * plan_.channels;
    return plan_.start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(samples / plan_.sampleRate));
}

} // namespace kvd::stream
