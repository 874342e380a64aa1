// The tool's reader thread and its bounded queue, in this process against
// virtual cards that count (channel c in scan k gives c << 12 | k & 0xFFF):
// blocks in order with their scan indexes, a full queue that stops the card
// or drops whole blocks counted as gaps, reads ahead of the card's clock
// that wait for room, and the backlog measured against the clock.
#include <chrono>
#include <future>
#include <optional>
#include <thread>

#include <gtest/gtest.h>

#include "acquisition/block_reader.h"
#include "support/test_support.h"

namespace kvd::testing {
namespace {

using tool::Block;
using tool::BlockQueue;
using tool::BlockReader;
using tool::OverrunChoice;
using tool::ReadPlan;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

TEST(BlockQueueTest, HandsBlocksOverInOrderAndIsFullAtItsDepth) {
    BlockQueue queue(3, 10, 2);
    EXPECT_EQ(queue.poolBytes(), 5u * 10 * 2 * 2);
    for (uint64_t first : {0, 10, 20}) {
        Block *block = queue.emptyBlock();
        ASSERT_NE(block, nullptr);
        block->firstScan = first;
        queue.push(block);
    }
    EXPECT_EQ(queue.emptyBlock(), nullptr) << "three wait: full, though the pool has two more";
    for (uint64_t first : {0, 10}) {
        const BlockQueue::Popped popped = queue.pop(milliseconds(0));
        ASSERT_NE(popped.block, nullptr);
        EXPECT_EQ(popped.block->firstScan, first);
        queue.release(popped.block);
    }
    EXPECT_NE(queue.emptyBlock(), nullptr);
}

TEST(BlockQueueTest, TheBlockGivenBackLastIsHandedOutFirst) {
    BlockQueue queue(4, 8, 1);
    Block *first = queue.emptyBlock();
    Block *second = queue.emptyBlock();
    ASSERT_NE(first, second);
    EXPECT_EQ(second->samples - first->samples, 8) << "blocks lie side by side in one pool";
    queue.release(first);
    EXPECT_EQ(queue.emptyBlock(), first);
}

TEST(BlockQueueTest, PopsEndOnlyOnceClosedAndEmpty) {
    BlockQueue queue(2, 4, 1);
    const BlockQueue::Popped waited = queue.pop(milliseconds(20));
    EXPECT_EQ(waited.block, nullptr);
    EXPECT_FALSE(waited.ended);
    queue.push(queue.emptyBlock());
    queue.close();
    const BlockQueue::Popped last = queue.pop(milliseconds(0));
    EXPECT_NE(last.block, nullptr);
    EXPECT_FALSE(last.ended);
    EXPECT_TRUE(queue.pop(milliseconds(1000)).ended);
}

// A reader may wait for fewer blocks to wait than the queue holds, until a
// deadline: in vain, then given back a block by another thread.
TEST(BlockQueueTest, WaitsUntilFewerBlocksWaitOrItsDeadline) {
    BlockQueue queue(4, 4, 1);
    queue.push(queue.emptyBlock());
    queue.push(queue.emptyBlock());
    const auto start = Clock::now();
    EXPECT_EQ(queue.emptyBlock(start + milliseconds(50), 2), nullptr);
    EXPECT_GE(Clock::now() - start, milliseconds(50));
    std::thread writer([&] {
        std::this_thread::sleep_for(milliseconds(20));
        queue.release(queue.pop(milliseconds(0)).block);
    });
    EXPECT_NE(queue.emptyBlock(Clock::now() + std::chrono::seconds(10), 2), nullptr);
    writer.join();
    EXPECT_NE(queue.emptyBlock(), nullptr) << "two of four wait: room";
}

// Channels 0-1 of a counting card read from the set-up on: the tool's scan
// 0 is the card's scan 256.
class BlockReaderTest : public VirtualCardTest {
protected:
    void start(bool paced, int32_t frequency) {
        vcard::Behaviour behaviour{paced, vcard::Signals::Counting, {}};
        behaviour.recording = false;
        vcard::install({7}, behaviour);
        card_ = openRecord(0);
        plan_.channels = 2;
        plan_.sampleRate = frequency;
        plan_.start = Clock::now();
        const ADPara para = {0, 0, 0, 1, frequency, 0, 1000, 1, 0, 0, 0, 0, 0, 10, 0, 0, 0};
        stop_.emplace(card_);
        ASSERT_TRUE(stop_->start(para));
    }

    // Checks a block's samples against the card's count and returns its scans.
    static uint32_t checked(const Block &block) {
        for (uint32_t scan = 0; scan < block.scans; ++scan)
            for (uint16_t channel = 0; channel < 2; ++channel)
                EXPECT_EQ(block.samples[2 * scan + channel], channel << 12 | ((256 + block.firstScan + scan) & 0xFFF))
                    << "scan " << block.firstScan + scan;
        return block.scans;
    }

    KVD4093_HANDLE card_ = nullptr;
    ReadPlan plan_;
    std::optional<tool::AcquisitionStop> stop_; // sets the card up and stops it
};

// At 20 kS/s the clock takes half a second for the 5000 scans: a consumer
// however slow (a sanitizer's) keeps the reads ahead of it, so nothing is
// an overrun.
TEST_F(BlockReaderTest, ReadsEveryScanInOrderWithItsIndexSinceTheStart) {
    start(false, 20000);
    plan_.plannedScans = 5000;
    BlockQueue queue(4, 300, 2);
    BlockReader reader(card_, *stop_, queue, plan_);
    uint64_t next = 0;
    for (BlockQueue::Popped popped; !(popped = queue.pop(milliseconds(100))).ended;) {
        if (popped.block == nullptr)
            continue;
        EXPECT_EQ(popped.block->firstScan, next);
        EXPECT_EQ(popped.block->lostBefore, 0u);
        next += checked(*popped.block);
        queue.release(popped.block);
    }
    reader.join();
    EXPECT_EQ(next, 5000u) << "the last block holds the 200 scans left";
    EXPECT_FALSE(reader.result().failure);
    EXPECT_FALSE(reader.result().overrun);
    EXPECT_TRUE(vcard::card(0).running()) << "the caller stops the card";
}

// Nobody writes: the reader fills the queue and stops the card; the blocks
// read are all there, in order.
TEST_F(BlockReaderTest, AFullQueueStopsTheCardKeepingEveryBlockRead) {
    start(false, 10000000);
    BlockQueue queue(4, 300, 2);
    BlockReader reader(card_, *stop_, queue, plan_);
    reader.join();
    EXPECT_TRUE(reader.result().overrun);
    EXPECT_TRUE(stop_->requested());
    EXPECT_FALSE(vcard::card(0).running());
    for (uint64_t first = 0; first < 1200; first += 300) {
        const BlockQueue::Popped popped = queue.pop(milliseconds(0));
        ASSERT_NE(popped.block, nullptr);
        EXPECT_EQ(popped.block->firstScan, first);
        checked(*popped.block);
    }
    EXPECT_TRUE(queue.pop(milliseconds(0)).ended);
}

// Nobody writes: four blocks wait, the other sixteen of the plan are dropped
// and counted after the last one.
TEST_F(BlockReaderTest, AFullQueueDropsWholeBlocksAndCountsThem) {
    start(false, 10000000);
    plan_.plannedScans = 20 * 300;
    plan_.onOverrun = OverrunChoice::Continue;
    BlockQueue queue(4, 300, 2);
    BlockReader reader(card_, *stop_, queue, plan_);
    reader.join();
    EXPECT_FALSE(reader.result().overrun);
    EXPECT_EQ(reader.result().lostAtEnd, 16u * 300);
    EXPECT_TRUE(vcard::card(0).running());
}

// An unpaced card at 20 kS/s (30 ms of its clock a block): the reads run
// ahead of the clock, so a full queue waits for room until the clock catches
// up, then drops blocks. The writer comes back after 200 ms: the block after
// the gap says how many scans went, and holds the card's scans after them.
TEST_F(BlockReaderTest, ReadsAheadOfTheClockWaitForRoomThenDropWholeBlocks) {
    start(false, 20000);
    plan_.plannedScans = 30 * 300;
    plan_.onOverrun = OverrunChoice::Continue;
    BlockQueue queue(2, 300, 2);
    BlockReader reader(card_, *stop_, queue, plan_);
    std::this_thread::sleep_for(milliseconds(200));
    uint64_t next = 0, written = 0, lost = 0;
    for (BlockQueue::Popped popped; !(popped = queue.pop(milliseconds(100))).ended;) {
        if (popped.block == nullptr)
            continue;
        const Block &block = *popped.block;
        EXPECT_EQ(block.firstScan - block.lostBefore, next);
        EXPECT_EQ(block.lostBefore % 300, 0u);
        lost += block.lostBefore;
        written += checked(block);
        next = block.firstScan + block.scans;
        queue.release(popped.block);
    }
    reader.join();
    EXPECT_GE(lost, 300u * 2) << "200 ms of room lacking: about 60 ms of it was the queue's";
    EXPECT_LE(lost, 300u * 7);
    EXPECT_EQ(written + lost + reader.result().lostAtEnd, 9000u);
}

// A paced card whose reads are held for 300 ms: the reads fall behind the
// clock by about that much, then catch up.
TEST_F(BlockReaderTest, BacklogIsTheScansTheClockOwesBeyondThoseRead) {
    start(true, 20000);
    BlockQueue queue(100, 100, 2);
    vcard::card(0).holdReads();
    BlockReader reader(card_, *stop_, queue, plan_);
    ASSERT_TRUE(vcard::card(0).waitForHeldRead(5000));
    const auto held = Clock::now();
    std::this_thread::sleep_for(milliseconds(300));
    vcard::card(0).releaseReads();
    // Blocks of 10 ms; the first few after the release come at once.
    for (int blocks = 0; blocks < 40;) {
        const BlockQueue::Popped popped = queue.pop(milliseconds(1000));
        ASSERT_NE(popped.block, nullptr);
        queue.release(popped.block);
        ++blocks;
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - plan_.start).count();
    EXPECT_GE(reader.largestBacklog(), 2500u) << "held 300 ms, a block of 10 ms waiting";
    EXPECT_LE(reader.largestBacklog(), uint64_t(seconds * 10000));
    EXPECT_LT(reader.backlog(), reader.largestBacklog()) << "caught up since";
    EXPECT_GE(Clock::now() - held, milliseconds(300));
}

} // namespace
} // namespace kvd::testing
