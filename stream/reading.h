// What a stream sees of the thread that fills its queue: a BlockReader on
// one card, or a GroupReader merging the readers of a group's cards.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>

#include "block_queue.h"

namespace kvd::stream {

class Reading {
public:
    virtual ~Reading() = default;
    // Waits until the reading has ended (the queue is closed by then).
    virtual void join() = 0;
    // From any thread while it reads: scans queued, scans lost, and how far
    // the reads are behind the card's clock (of a group: its slowest card).
    virtual uint64_t scansQueued() const = 0;
    virtual uint64_t scansLost() const = 0;
    virtual uint64_t backlog() const = 0;
    virtual uint64_t largestBacklog() const = 0;
    // False once the reading has ended.
    virtual bool running() const = 0;
};

// A block to fill from `queue` for scans the card's clock reaches at
// `caughtUp`. Before then the reads are ahead of the clock (a card that
// delivers at once): the block waits until fewer than four blocks wait,
// since a card at its rate would not have delivered more yet. From then on,
// nullptr when the queue is full: an overrun.
template <typename StopAsked>
Block *blockInTime(BlockQueue &queue, BlockQueue::Clock::time_point caughtUp, StopAsked stopAsked) {
    // A stop is looked for this often while waiting for room.
    constexpr auto kStopPoll = std::chrono::milliseconds(10);
    constexpr size_t kWaitingAhead = 4;
    for (;;) {
        const auto now = BlockQueue::Clock::now();
        if (now >= caughtUp)
            return queue.emptyBlock();
        Block *block = queue.emptyBlock(std::min(caughtUp, now + kStopPoll), kWaitingAhead);
        if (block != nullptr || stopAsked())
            return block;
    }
}

} // namespace kvd::stream
