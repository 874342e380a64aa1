// The emulated card's usbfs side without umockdev: URBs become driver
// requests on the pipe of their endpoint, each program reaps only its own,
// a discarded URB comes back at once, and an unplug ends everything.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include <gtest/gtest.h>

#include "card_descriptors.h"
#include "card_model/driver_protocol.h"
#include "urb_engine.h"

namespace kvd::usbsim {
namespace {

struct Seen {
    uint32_t code;
    uint32_t pipe;
    std::vector<uint8_t> sent;
    uint32_t asked; // the data length
};

// Records requests; reads answer 0x5A bytes (at most `answered`), or wait while held.
class FakeCard : public CardLink {
public:
    int32_t request(uint32_t code, void *input, uint32_t inputSize, void *output, uint32_t outputSize,
                    uint32_t *bytesReturned) override {
        std::unique_lock lock(mutex);
        const uint32_t pipe = inputSize >= 4 ? protocol::readLe32(static_cast<uint8_t *>(input)) : 0;
        std::vector<uint8_t> sent;
        if (code == protocol::kBulkWrite)
            sent.assign(static_cast<uint8_t *>(output), static_cast<uint8_t *>(output) + outputSize);
        else if (code == protocol::kSetInterface)
            sent.assign(static_cast<uint8_t *>(input), static_cast<uint8_t *>(input) + inputSize);
        seen.push_back({code, pipe, sent, outputSize});
        changed.notify_all();
        changed.wait(lock, [&] { return !holding || code != protocol::kBulkRead; });
        if (code == protocol::kBulkRead)
            std::fill_n(static_cast<uint8_t *>(output), outputSize, 0x5A);
        *bytesReturned = code == protocol::kBulkRead   ? std::min(outputSize, answered)
                         : code == protocol::kBulkWrite ? outputSize
                                                        : 0;
        return fail ? 0 : 1;
    }
    void waitForRequests(size_t count) {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return seen.size() >= count; });
    }
    void release() {
        std::lock_guard lock(mutex);
        holding = false;
        changed.notify_all();
    }
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<Seen> seen;
    bool holding = false;
    bool fail = false;
    uint32_t answered = UINT32_MAX;
};

class UrbEngineTest : public ::testing::Test {
protected:
    UrbEngineTest() {
        auto made = std::make_unique<FakeCard>();
        card_ = made.get();
        engine_ = std::make_unique<UrbEngine>(std::move(made));
    }
    ~UrbEngineTest() override {
        card_->release();
        engine_.reset();
    }
    // Reaps the owner's next URB, waiting for the card to finish it.
    FinishedUrb reapNext(uint64_t owner) {
        for (;;) {
            int error = 0;
            if (auto urb = engine_->reap(owner, &error))
                return *urb;
            EXPECT_EQ(error, EAGAIN);
            std::this_thread::yield();
        }
    }
    FakeCard *card_;
    std::unique_ptr<UrbEngine> engine_;
};

TEST_F(UrbEngineTest, EndpointsAreThePipesInDescriptorOrder) {
    const struct {
        uint8_t endpoint;
        int32_t pipe;
    } cases[] = {{0x02, 0}, {0x04, 1}, {0x86, 2}, {0x88, 3}, {0x81, -1}, {0x06, -1}};
    for (const auto &c : cases)
        EXPECT_EQ(pipeOfEndpoint(c.endpoint), c.pipe) << int(c.endpoint);
}

TEST_F(UrbEngineTest, DescriptorsHoldTwoSettingsOfFourBulkEndpoints) {
    const std::vector<uint8_t> bytes = cardDescriptors(0x1209, 0x0001);
    ASSERT_EQ(bytes.size(), 18u + 9u + 2u * (9u + 4u * 7u));
    EXPECT_EQ(bytes[8] | bytes[9] << 8, 0x1209);
    EXPECT_EQ(bytes[10] | bytes[11] << 8, 0x0001);
    EXPECT_EQ(bytes[18 + 2] | bytes[18 + 3] << 8, int(bytes.size() - 18)); // wTotalLength
    for (uint8_t setting = 0; setting < 2; ++setting) {
        const size_t interface = 27 + setting * 37u;
        EXPECT_EQ(bytes[interface + 3], setting);
        for (size_t e = 0; e < 4; ++e) {
            EXPECT_EQ(bytes[interface + 9 + e * 7 + 2], kPipeEndpoints[e]);
            EXPECT_EQ(bytes[interface + 9 + e * 7 + 3], 0x02); // bulk
        }
    }
}

TEST_F(UrbEngineTest, OutUrbIsABulkWriteAndInUrbABulkReadOnItsPipe) {
    ASSERT_EQ(engine_->submit({1, 0x100}, 0x04, {0x01, 0x1F, 0x00, 0x10}, 0), 0);
    const FinishedUrb written = reapNext(1);
    ASSERT_EQ(engine_->submit({1, 0x200}, 0x88, {}, 512), 0);
    const FinishedUrb read = reapNext(1);

    ASSERT_EQ(card_->seen.size(), 2u);
    EXPECT_EQ(card_->seen[0].code, protocol::kBulkWrite);
    EXPECT_EQ(card_->seen[0].pipe, 1u);
    EXPECT_EQ(card_->seen[0].sent, (std::vector<uint8_t>{0x01, 0x1F, 0x00, 0x10}));
    EXPECT_EQ(written.id.address, 0x100u);
    EXPECT_EQ(written.status, 0);
    EXPECT_EQ(written.actualLength, 4u);
    EXPECT_EQ(card_->seen[1].code, protocol::kBulkRead);
    EXPECT_EQ(card_->seen[1].pipe, 3u);
    EXPECT_EQ(read.actualLength, 512u);
    EXPECT_EQ(read.data, std::vector<uint8_t>(512, 0x5A));
}

TEST_F(UrbEngineTest, FailedRequestEndsTheUrbWithEPIPE) {
    card_->fail = true;
    ASSERT_EQ(engine_->submit({1, 0x100}, 0x86, {}, 64), 0);
    const FinishedUrb urb = reapNext(1);
    EXPECT_EQ(urb.status, -EPIPE);
    EXPECT_EQ(urb.actualLength, 0u);
    EXPECT_TRUE(urb.data.empty());
}

TEST_F(UrbEngineTest, EachProgramReapsOnlyItsOwnUrbs) {
    ASSERT_EQ(engine_->submit({1, 0x100}, 0x02, {3, 1}, 0), 0);
    card_->waitForRequests(1);
    const FinishedUrb urb = reapNext(1);
    int error = 0;
    EXPECT_FALSE(engine_->reap(2, &error));
    EXPECT_EQ(error, EAGAIN);
    EXPECT_EQ(urb.id, (UrbName{1, 0x100}));
}

TEST_F(UrbEngineTest, DiscardedReadComesBackAtOnceAndItsLateAnswerIsDropped) {
    card_->holding = true;
    ASSERT_EQ(engine_->submit({1, 0x100}, 0x86, {}, 64), 0);
    card_->waitForRequests(1);
    EXPECT_EQ(engine_->discard({1, 0x100}), 0);
    const FinishedUrb urb = reapNext(1);
    EXPECT_EQ(urb.status, -ENOENT);
    EXPECT_EQ(engine_->discard({1, 0x100}), EINVAL); // already back
    // A new URB at the same address waits behind the held read; the held
    // read's answer must not pass for it.
    ASSERT_EQ(engine_->submit({1, 0x100}, 0x86, {}, 8), 0);
    card_->release();
    const FinishedUrb second = reapNext(1);
    EXPECT_EQ(second.actualLength, 8u);
    int error = 0;
    EXPECT_FALSE(engine_->reap(1, &error));
}

TEST_F(UrbEngineTest, UnplugEndsWaitingUrbsThenFailsEverything) {
    card_->holding = true;
    ASSERT_EQ(engine_->submit({1, 0x100}, 0x86, {}, 64), 0);
    card_->waitForRequests(1);
    engine_->unplug();
    EXPECT_EQ(reapNext(1).status, -ESHUTDOWN);
    int error = 0;
    EXPECT_FALSE(engine_->reap(1, &error));
    EXPECT_EQ(error, ENODEV);
    EXPECT_EQ(engine_->submit({1, 0x200}, 0x02, {1}, 0), ENODEV);
    EXPECT_EQ(engine_->setInterface(1, 0, 1), ENODEV);
    EXPECT_EQ(engine_->reset(), ENODEV);
}

TEST_F(UrbEngineTest, InterfaceSelectionAndResetAreTheCardsRequests) {
    EXPECT_EQ(engine_->setInterface(1, 0, 1), 0);
    EXPECT_EQ(engine_->reset(), 0);
    ASSERT_EQ(card_->seen.size(), 2u);
    EXPECT_EQ(card_->seen[0].code, protocol::kSetInterface);
    EXPECT_EQ(card_->seen[0].sent, (std::vector<uint8_t>{0x00, 0x01}));
    EXPECT_EQ(card_->seen[1].code, protocol::kUsbReset);
    card_->fail = true;
    EXPECT_EQ(engine_->setInterface(1, 0, 1), EIO);
}

TEST_F(UrbEngineTest, InUrbsTakeWholePacketsAndOverflowWhenTheBufferEndsInsideOne) {
    const struct {
        uint32_t length;   // the URB's buffer
        uint32_t answered; // what the card sends at most
        uint32_t asked;    // what the card is asked for: whole packets
        int32_t status;
        uint32_t actual;
    } cases[] = {
        {512, UINT32_MAX, 512, 0, 512},             {1024, UINT32_MAX, 1024, 0, 1024},
        {100, UINT32_MAX, 512, -EOVERFLOW, 100},    {1000, UINT32_MAX, 1024, -EOVERFLOW, 1000},
        {1024, 700, 1024, 0, 700},                  {1000, 700, 1024, 0, 700}, // a short packet ends the URB
        {1000, 0, 1024, 0, 0},
    };
    uint64_t address = 0x100;
    for (const auto &c : cases) {
        card_->answered = c.answered;
        ASSERT_EQ(engine_->submit({1, ++address}, 0x86, {}, c.length), 0);
        const FinishedUrb urb = reapNext(1);
        EXPECT_EQ(card_->seen.back().asked, c.asked) << c.length;
        EXPECT_EQ(urb.status, c.status) << c.length << " " << c.answered;
        EXPECT_EQ(urb.actualLength, c.actual) << c.length << " " << c.answered;
        EXPECT_EQ(urb.data, std::vector<uint8_t>(c.actual, 0x5A));
    }
}

TEST_F(UrbEngineTest, OneDeviceFileAtATimeHoldsTheInterface) {
    EXPECT_EQ(engine_->claim(1, 0), 0);
    EXPECT_EQ(engine_->claim(1, 0), 0);
    EXPECT_TRUE(engine_->claimed(0));
    EXPECT_EQ(engine_->claim(2, 0), EBUSY);
    EXPECT_EQ(engine_->submit({2, 0x100}, 0x02, {1}, 0), EBUSY); // a URB claims on the way, and cannot
    EXPECT_EQ(engine_->setInterface(2, 0, 1), EBUSY);
    EXPECT_EQ(engine_->release(2, 0), EINVAL);
    EXPECT_EQ(engine_->claim(1, 1), ENOENT); // the card has interface 0 only
    engine_->forget(1);                        // its file closed
    EXPECT_FALSE(engine_->claimed(0));
    EXPECT_EQ(engine_->submit({2, 0x100}, 0x02, {1}, 0), 0);
    EXPECT_EQ(engine_->release(2, 0), 0);
    EXPECT_EQ(engine_->claim(1, 0), 0);
}

TEST_F(UrbEngineTest, AStalledPipeFailsItsUrbsUntilTheHaltIsCleared) {
    engine_->stall(3);
    ASSERT_EQ(engine_->submit({1, 0x100}, 0x88, {}, 512), 0);
    EXPECT_EQ(reapNext(1).status, -EPIPE);
    ASSERT_EQ(engine_->submit({1, 0x100}, 0x02, {3, 0}, 0), 0); // other pipes go on
    EXPECT_EQ(reapNext(1).status, 0);
    EXPECT_EQ(card_->seen.size(), 1u); // the halted endpoint never reached the card
    EXPECT_EQ(engine_->clearHalt(1, 0x88), 0);
    ASSERT_EQ(engine_->submit({1, 0x100}, 0x88, {}, 512), 0);
    EXPECT_EQ(reapNext(1).status, 0);
}

TEST_F(UrbEngineTest, ASilentCardAnswersOnlyAfterItsSilence) {
    const auto start = std::chrono::steady_clock::now();
    engine_->nak(std::chrono::milliseconds(300));
    ASSERT_EQ(engine_->submit({1, 0x100}, 0x88, {}, 512), 0);
    EXPECT_EQ(reapNext(1).status, 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
    // A URB taken back during the silence comes back at once.
    engine_->nak(std::chrono::hours(1));
    ASSERT_EQ(engine_->submit({1, 0x200}, 0x88, {}, 512), 0);
    EXPECT_EQ(engine_->discard({1, 0x200}), 0);
    EXPECT_EQ(reapNext(1).status, -ENOENT);
    EXPECT_EQ(card_->seen.size(), 1u);
}

TEST_F(UrbEngineTest, ASlowCardConvertsWithALongerDivider) {
    const std::vector<uint8_t> config = {protocol::kCmdAdConfig, 0, 3, 0, 0, 0x90, 0x01, 0, 0, 0xEE};
    engine_->slow(4);
    ASSERT_EQ(engine_->submit({1, 0x100}, 0x02, config, 0), 0);
    reapNext(1);
    const std::vector<uint8_t> slowed = {protocol::kCmdAdConfig, 0, 3, 0, 0, 0x40, 0x06, 0, 0, 0xEE}; // 400 -> 1600
    EXPECT_EQ(card_->seen.at(0).sent, slowed);
    ASSERT_EQ(engine_->submit({1, 0x100}, 0x04, config, 0), 0); // not an AD command
    reapNext(1);
    EXPECT_EQ(card_->seen.at(1).sent, config);
}

TEST_F(UrbEngineTest, PollShowsWhetherAUrbWaitsToBeReaped) {
    std::vector<bool> shown;
    engine_->onReadyChanged([&](bool ready) { shown.push_back(ready); });
    ASSERT_EQ(engine_->submit({1, 0x100}, 0x02, {3, 0}, 0), 0);
    reapNext(1);
    engine_->unplug();
    EXPECT_EQ(shown, (std::vector<bool>{false, true, false, true}));
}

TEST_F(UrbEngineTest, UnknownEndpointIsRefused) { EXPECT_EQ(engine_->submit({1, 0x100}, 0x81, {}, 8), ENOENT); }

} // namespace
} // namespace kvd::usbsim
