// A bounded queue of blocks of whole scans between the stream's reader
// thread and the program's reads. The blocks come from a pool made once, so
// a long acquisition neither allocates nor grows; the memory of a block is
// touched only once the queue first needs that block, and the blocks handed
// out most recently are handed out again first, so a program that keeps up
// keeps working in the same few blocks.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace kvd::stream {

struct Block {
    uint16_t *samples = nullptr; // room for the queue's blockScans() scans
    uint64_t firstScan = 0;      // the index of its first scan since the start
    uint32_t scans = 0;          // the whole scans it holds
    uint64_t lostBefore = 0;     // scans dropped just before it: the gap starts at firstScan - lostBefore
    bool lostAway = false;       // those scans were not read because the card was away, not dropped
};

class BlockQueue {
public:
    using Clock = std::chrono::steady_clock;

    // Up to `depth` filled blocks wait for the program, each of up to
    // `blockScans` scans of `channels` samples. The pool holds two blocks
    // more: the one being filled and the one being taken.
    BlockQueue(size_t depth, uint32_t blockScans, uint32_t channels);
    BlockQueue(const BlockQueue &) = delete;
    BlockQueue &operator=(const BlockQueue &) = delete;

    size_t depth() const { return depth_; }
    uint32_t blockScans() const { return blockScans_; }
    // The memory of the whole pool, in bytes.
    size_t poolBytes() const;

    // The reader's side. A block to fill, or nullptr when `depth` blocks
    // wait already: the queue is full. Never waits.
    Block *emptyBlock();
    // The same, waiting until fewer than `waiting` blocks wait (and at most
    // until `until`).
    Block *emptyBlock(Clock::time_point until, size_t waiting);
    // Hands a filled block to the program.
    void push(Block *block);
    // No more blocks come: pop() reports the end once every block is taken.
    void close();
    // The stream is going: every pop() reports the end at once, blocks or none.
    void cancel();

    // The program's side.
    struct Popped {
        Block *block = nullptr; // the oldest block, or nullptr
        bool ended = false;     // closed and no block left, or cancelled
    };
    // The oldest block, waiting for one until `until` (Clock::time_point::max(): no limit).
    Popped pop(Clock::time_point until);
    // The oldest block when one waits, without waiting.
    Popped pop() { return pop(Clock::time_point::min()); }
    // Gives a block back to the pool, from either side.
    void release(Block *block);

private:
    const size_t depth_;
    const uint32_t blockScans_;
    const uint32_t channels_;
    std::unique_ptr<uint16_t[]> memory_; // not value-initialised: untouched pages cost nothing
    std::vector<Block> blocks_;

    std::mutex mutex_;
    std::condition_variable pushed_;
    std::condition_variable released_;
    std::vector<Block *> free_;    // a stack: the latest given back goes out first
    std::vector<Block *> waiting_; // a ring of depth_ + 1 places
    size_t oldest_ = 0;
    size_t count_ = 0;
    bool closed_ = false;
    bool cancelled_ = false;
};

} // namespace kvd::stream
