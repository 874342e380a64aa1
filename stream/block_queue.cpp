#include "block_queue.h"

#include <algorithm>

namespace kvd::stream {
namespace {

// A wait that has passed its deadline already does not wait: a condition
// variable that converts the steady clock to another (MinGW's) would
// overflow on a deadline far in the past, Clock::time_point::min(), and
// wait for ever.
template <typename Ready>
bool waitUntil(std::condition_variable &condition, std::unique_lock<std::mutex> &lock,
               BlockQueue::Clock::time_point until, Ready ready) {
    if (ready())
        return true;
    if (until <= BlockQueue::Clock::now())
        return false;
    return condition.wait_until(lock, until, ready);
}

} // namespace

// One block more than the pool's: the ring never needs to tell full from empty.
BlockQueue::BlockQueue(size_t depth, uint32_t blockScans, uint32_t channels)
    : depth_(depth), blockScans_(blockScans), channels_(channels),
      memory_(new uint16_t[(depth + 2) * blockScans * channels]), blocks_(depth + 2), waiting_(depth + 1) {
    free_.reserve(blocks_.size());
    for (size_t i = blocks_.size(); i-- > 0;) {
        blocks_[i].samples = memory_.get() + i * blockScans * channels;
        free_.push_back(&blocks_[i]);
    }
}

size_t BlockQueue::poolBytes() const { return blocks_.size() * blockScans_ * channels_ * sizeof(uint16_t); }

Block *BlockQueue::emptyBlock() { return emptyBlock(Clock::time_point::min(), depth_); }

Block *BlockQueue::emptyBlock(Clock::time_point until, size_t waiting) {
    std::unique_lock lock(mutex_);
    const auto room = [&] { return count_ < std::min(waiting, depth_) && !free_.empty(); };
    if (!room() && !waitUntil(released_, lock, until, room))
        return nullptr;
    Block *block = free_.back();
    free_.pop_back();
    return block;
}

void BlockQueue::push(Block *block) {
    {
        const std::lock_guard lock(mutex_);
        waiting_[(oldest_ + count_) % waiting_.size()] = block;
        ++count_;
    }
    pushed_.notify_all();
}

void BlockQueue::close() {
    {
        const std::lock_guard lock(mutex_);
        closed_ = true;
    }
    pushed_.notify_all();
}

void BlockQueue::cancel() {
    {
        const std::lock_guard lock(mutex_);
        cancelled_ = true;
    }
    pushed_.notify_all();
}

BlockQueue::Popped BlockQueue::pop(Clock::time_point until) {
    std::unique_lock lock(mutex_);
    const auto ready = [&] { return count_ > 0 || closed_ || cancelled_; };
    if (until == Clock::time_point::max())
        pushed_.wait(lock, ready);
    else
        waitUntil(pushed_, lock, until, ready);
    if (cancelled_)
        return {nullptr, true};
    if (count_ == 0)
        return {nullptr, closed_};
    Block *block = waiting_[oldest_];
    oldest_ = (oldest_ + 1) % waiting_.size();
    --count_;
    return {block, false};
}

void BlockQueue::release(Block *block) {
    {
        const std::lock_guard lock(mutex_);
        free_.push_back(block);
    }
    released_.notify_one();
}

} // namespace kvd::stream
