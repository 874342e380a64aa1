// The reader of a running stream: a thread of its own that reads the card
// block after block into a BlockQueue, back to back, so that a slow program
// never delays a read while the queue has room. When the queue is full it
// either stops the acquisition or drops whole blocks and counts the gap;
// after every read it measures how far the reads are behind the card's clock
// (the backlog the card holds in its own memory).
//
// A card cannot deliver ahead of its clock, but a virtual card that delivers
// at once does. Reads ahead of the clock keep at most four blocks waiting (a
// card converting at its rate would not have delivered more yet, and the
// blocks stay in the processor's caches), and a full queue counts as an
// overrun only once the clock has caught up with the reads: the time such a
// card would have given the program.
//
//   AcquisitionStop stop(card);
//   BlockQueue queue(depth, blockScans, channels);
//   ... stop.start(para) ...                                 // KVD4093_InitDeviceAD
//   BlockReader reader(card, stop, queue, plan, observer);   // reading starts
//   while (!(popped = queue.pop(until)).ended) { ...take popped.block...; queue.release(popped.block); }
//   reader.join();
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "KVD4093.h"
#include "acquisition_stop.h"
#include "block_queue.h"
#include "reading.h"
#include "reconnection.h"
#include "facts/card_limits.h"

namespace kvd::stream {

// What the reader does when it has read a block and the queue has no room.
enum class OverrunChoice {
    Stop,     // stops the acquisition: every block read stays readable
    Continue, // drops the block, goes on, and counts the scans lost
};

struct ReadPlan {
    uint32_t channels = 1;
    double sampleRate = 0;     // samples a second of all channels together, as the card runs
    uint64_t plannedScans = 0; // scans to read, the dropped ones included; 0: until stopped
    uint64_t firstScan = 0;    // the index of the first scan after the set-up: a segment's
    OverrunChoice onOverrun = OverrunChoice::Stop;
    // Read on the steady clock just before the card was started: the clock
    // that the backlog is measured against.
    std::chrono::steady_clock::time_point start;
};

// How the reading ended.
struct ReadResult {
    std::optional<std::string> failure; // the library's message for a failed read
    bool overrun = false;               // stopped because the queue was full
    bool described = false;             // `failure` is the whole message (a group's, naming its card)
    uint64_t lostAtEnd = 0;             // scans dropped after the last block queued
};

// Sees, on the reader's thread, every block just before it is queued, and
// the end of the reading just before the queue closes.
class ReadObserver {
public:
    virtual void queued(const Block &block) = 0;
    virtual void ended(const ReadResult &result) = 0;

protected:
    ~ReadObserver() = default;
};

class BlockReader final : public Reading {
public:
    // Starts reading a card whose acquisition the caller has set up and started.
    // With a reconnection, a card pulled out is taken back and read on after
    // the gap; without, the reading ends there.
    BlockReader(KVD4093_HANDLE card, AcquisitionStop &stop, BlockQueue &queue, const ReadPlan &plan,
                ReadObserver &observer, Reconnection *reconnection = nullptr);
    // Stops the card (if nobody did) and waits for the thread.
    ~BlockReader() override;
    BlockReader(const BlockReader &) = delete;
    BlockReader &operator=(const BlockReader &) = delete;

    void join() override;

    // From any thread while it reads. The backlog: the scans the card's clock
    // owes since the start (rate x elapsed) minus the scans read, the set-up's
    // and the dropped ones included, measured after each read.
    uint64_t backlog() const override { return backlog_.load(std::memory_order_relaxed); }
    uint64_t largestBacklog() const override { return largestBacklog_.load(std::memory_order_relaxed); }
    // Scans queued, and scans dropped, so far.
    uint64_t scansQueued() const override { return scansQueued_.load(std::memory_order_relaxed); }
    uint64_t scansLost() const override { return scansLost_.load(std::memory_order_relaxed); }
    bool running() const override { return running_.load(); }

    // The set-up of KVD4093_InitDeviceAD reads and discards this many samples.
    static constexpr uint32_t kSetUpSamples = facts::kSetUpSamples;

private:
    void run();
    void readSegment();
    bool reconnectAfterLoss();
    bool stopAsked() const { return stop_.requested(); }
    bool skipPartialScan();
    bool readScans(uint16_t *samples, uint32_t scans);
    uint32_t nextBlockScans() const;
    void measureBacklog();
    // A block to fill (blockInTime, reading.h).
    Block *emptyBlock();

    KVD4093_HANDLE card_;
    AcquisitionStop &stop_;
    BlockQueue &queue_;
    ReadPlan plan_; // its start and first scan those of the segment read
    ReadObserver &observer_;
    Reconnection *const reconnection_;
    bool lostAway_ = false;         // the scans of lostPending_ were not read: the card was away
    std::vector<uint16_t> dropped_; // where a block read while the queue is full goes
    uint64_t nextScan_ = 0;         // the index since the start of the next scan read
    uint64_t lostPending_ = 0;      // scans dropped since the last block queued
    uint64_t samplesRead_ = 0;      // every sample read from the card, the set-up's included
    std::atomic<uint64_t> backlog_{0};
    std::atomic<uint64_t> largestBacklog_{0};
    std::atomic<uint64_t> scansQueued_{0};
    std::atomic<uint64_t> scansLost_{0};
    std::atomic<bool> running_{true};
    ReadResult result_;
    std::thread thread_;
};

} // namespace kvd::stream
