// The reading of a group: each card has its own BlockReader, on its own
// thread, into a queue of its own, and a merger thread hands on scan k of the
// group only once every card has delivered scan k, the channels of the first
// card first. Scans are matched by their index, never by time.
//
// A block a card dropped (its queue full) leaves a gap in that card's
// indexes; the scans the other cards delivered for those indexes are dropped
// too, so the group has one gap over the same scans, counted once in the
// next block's lostBefore, and never hands on a scan that a card did not
// deliver. When the group's own queue is full the merger drops or stops as a
// single card's reader does.
//
// A card that takes the clock and delivers nothing for the no-clock wait
// while the driving card delivers ends the reading with the message naming
// it. At the end the merger stops every card (CardSet::stop, in its order).
//
// With a reconnection, a card pulled out stops every card's reader; once the
// cards are back and started again (Reconnection, in the order of the
// group's start) each card gets a new reader from the new segment's first
// scan, and the scans between are one gap of the group.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "block_reader.h"
#include "card_set.h"
#include "reading.h"

namespace kvd::stream {

class GroupReader final : public Reading {
public:
    // Starts reading the cards of `cards`, set up and started, into `queue`,
    // whose scans hold every card's `plan.channels`. Each card's queue has
    // `cardDepth` blocks of `queue.blockScans()` scans or more.
    GroupReader(CardSet &cards, BlockQueue &queue, const ReadPlan &plan, size_t cardDepth, uint32_t cardBlockScans,
                std::chrono::milliseconds noClockWait, ReadObserver &observer, Reconnection *reconnection = nullptr);
    ~GroupReader() override;
    GroupReader(const GroupReader &) = delete;
    GroupReader &operator=(const GroupReader &) = delete;

    void join() override;
    uint64_t scansQueued() const override { return scansQueued_.load(std::memory_order_relaxed); }
    uint64_t scansLost() const override { return scansLost_.load(std::memory_order_relaxed); }
    uint64_t backlog() const override;
    uint64_t largestBacklog() const override;
    bool running() const override { return running_.load(); }

private:
    // How a card's reading ended, kept on its reader's thread.
    struct CardEnd final : ReadObserver {
        void queued(const Block &) override {}
        void ended(const ReadResult &result) override { this->result = result; }
        ReadResult result;
    };
    // Where the merger stands in a card's blocks.
    struct Cursor {
        Block *block = nullptr;
        uint32_t taken = 0; // scans of the block handed on or skipped
        std::chrono::steady_clock::time_point arrived; // when the card last delivered a block
        uint64_t next() const { return block->firstScan + taken; }
        uint32_t left() const { return block->scans - taken; }
    };

    void run();
    void startCardReaders();
    void stopCardReaders();
    // After a card's failure: the cards taken back and read again, or false.
    bool reconnectAfterLoss(ReadResult *result);
    bool otherCardFailed(size_t card, ReadResult *result) const;
    bool fillHeads(ReadResult *result);
    bool fillHead(size_t card, ReadResult *result);
    void cardEnded(size_t card, ReadResult *result) const;
    bool noClock(size_t card, std::chrono::steady_clock::time_point now) const;
    // Skips every card to the latest card's next scan; false when a card's
    // block ran out on the way (its next block is needed first).
    bool align();
    void advance(uint32_t scans);
    void merge(Block *block, uint32_t scans);
    std::chrono::steady_clock::time_point caughtUp(uint64_t scansEnd) const;

    CardSet &cards_;
    BlockQueue &queue_;
    ReadPlan plan_; // its start and first scan those of the segment read
    const size_t cardDepth_;
    const uint32_t cardBlockScans_;
    const std::chrono::milliseconds noClockWait_;
    ReadObserver &observer_;
    Reconnection *const reconnection_;
    bool pendingAway_ = false; // the next gap is the scans of a card away
    std::vector<std::unique_ptr<BlockQueue>> cardQueues_;
    std::vector<std::unique_ptr<CardEnd>> cardEnds_;
    std::vector<std::unique_ptr<BlockReader>> readers_; // replaced at a reconnection, under readersMutex_
    mutable std::mutex readersMutex_;                   // the status calls read the readers' backlogs
    uint64_t largestBefore_ = 0;                        // the largest backlog of the readers replaced
    std::vector<Cursor> cursors_;
    std::vector<const uint16_t *> mergeFrom_; // each card's first scan to merge
    uint64_t handedOn_ = 0; // the index after the last scan handed on
    std::atomic<uint64_t> scansQueued_{0};
    std::atomic<uint64_t> scansLost_{0};
    std::atomic<bool> running_{true};
    std::thread thread_;
};

} // namespace kvd::stream
