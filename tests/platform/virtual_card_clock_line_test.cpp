// Virtual cards wired together on their clock line, through the library and
// the card backend (the virtual one, and the USB one over emulated cards):
// a card on the received clock delivers exactly the scans the driving card
// converts, sample for sample; cards on their own clocks drift by their
// offsets. The line's counting alone (none without a driver, a late card,
// an unpaced driver) is the card model's test, on a clock moved by hand.
#include <chrono>
#include <future>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "card_model/driver_protocol.h"
#include "card_model/firmware.h"
#include "card_model/sample_stream.h"
#include "support/test_support.h"

namespace kvd::testing {
namespace {

using vcard::SampleStream;
using vcard::Signals;
using Clock = std::chrono::steady_clock;

constexpr uint8_t kOwnClock = 0;
constexpr uint8_t kDrives = vcard::kModeClockOutput;
constexpr uint8_t kTakes = vcard::kModeExternalClock;
constexpr uint32_t kDivider = 100;          // a sample every 10 us: 100 kS/s
constexpr uint32_t kBlock = 1024;           // samples of a read: whole USB packets
constexpr uint32_t kEverything = 1u << 18;  // more than any test converts

vcard::Behaviour behaviour(bool paced, Signals signals = Signals::Counting) {
    vcard::Behaviour chosen{paced, signals, {}};
    chosen.memorySamples = 0; // a slow test thread loses nothing
    return chosen;
}

class VirtualCardClockLineTest : public VirtualCardTest {
protected:
    void installCards(const std::vector<vcard::Behaviour> &behaviours) {
        std::vector<uint8_t> ids = {7, 9, 5};
        ids.resize(behaviours.size());
        install(ids);
        for (size_t n = 0; n < behaviours.size(); ++n) {
            vcard::card(int32_t(n)).setBehaviour(behaviours[n]);
            handles_.push_back(openRecord(int32_t(n)));
        }
    }
    void write(int32_t card, std::vector<uint8_t> packet) {
        packet.resize(protocol::kPacketSize);
        uint32_t written = 0;
        ASSERT_EQ(BulkWrite(handles_[size_t(card)], 0, packet.data(), protocol::kPacketSize, &written), 1);
    }
    // Channels 0 and 1 at 100 kS/s with the mode byte's clock codes, started.
    void start(int32_t card, uint8_t mode, uint8_t lastChannel = 1) {
        write(card, {protocol::kCmdAdConfig, 0, lastChannel, mode, 0, uint8_t(kDivider), 0, 0, 0});
        write(card, {protocol::kCmdAdRun, 1});
    }
    void stop(int32_t card) { write(card, {protocol::kCmdAdRun, 0}); }
    std::vector<uint16_t> read(int32_t card, uint32_t count) {
        std::vector<uint16_t> samples(count);
        uint32_t got = 0;
        EXPECT_EQ(KVD4093_ReadDeviceAD(handles_[size_t(card)], samples.data(), count, &got), 1);
        samples.resize(got);
        return samples;
    }
    std::future<size_t> readEverything(int32_t card) {
        auto reader = std::async(std::launch::async, [this, card] { return read(card, kEverything).size(); });
        EXPECT_TRUE(vcard::card(card).waitForPacedRead(5000)) << "card " << card << " waits";
        return reader;
    }
    // Stops a card with a read waiting in it: the read takes every sample
    // converted and not read yet (a read after the stop would wait for a start).
    size_t stopAndTakeTheRest(int32_t card) {
        std::future<size_t> rest = readEverything(card);
        stop(card);
        return rest.get();
    }
    std::vector<KVD4093_HANDLE> handles_;
};

// Two cards wait for ticks before the driver starts: every read of the
// driver can be matched by each of them at once,
// scan for scan, and the waveforms of scan k are those of scan k on a card's
// own clock. Once the driver stops they get no tick more.
TEST_F(VirtualCardClockLineTest, CardsStartedBeforeTheDriverDeliverExactlyItsScans) {
    installCards({behaviour(true, Signals::Waveforms), behaviour(true, Signals::Waveforms),
                  behaviour(true, Signals::Waveforms)});
    start(1, kTakes);
    start(2, kTakes);
    start(0, kDrives);
    size_t delivered = 0;
    for (int round = 0; round < 5; ++round) {
        const std::vector<uint16_t> driven = read(0, kBlock);
        ASSERT_EQ(driven.size(), kBlock);
        for (uint32_t i = 0; i < kBlock; ++i)
            ASSERT_EQ(driven[i], SampleStream::sampleAt(Signals::Waveforms, i % 2, (delivered + i) / 2)) << i;
        for (const int32_t taker : {1, 2})
            ASSERT_EQ(read(taker, kBlock), driven) << "card " << taker << ", round " << round;
        delivered += kBlock;
    }
    const size_t driverScans = (delivered + stopAndTakeTheRest(0)) / 2;
    std::this_thread::sleep_for(std::chrono::milliseconds(50)); // 2500 scans, were the line still ticking
    for (const int32_t taker : {1, 2})
        EXPECT_EQ(delivered + stopAndTakeTheRest(taker), 2 * driverScans) << "card " << taker;
}

TEST_F(VirtualCardClockLineTest, AnUnpacedCardOnTheReceivedClockDeliversAtOnceAsOnAnyClock) {
    installCards({behaviour(false)});
    start(0, kTakes);
    const std::vector<uint16_t> samples = read(0, kBlock);
    ASSERT_EQ(samples.size(), kBlock);
    EXPECT_EQ(samples.back(), SampleStream::sampleAt(Signals::Counting, 1, kBlock / 2 - 1));
}

// Cards on their own clocks at +-2 %: the samples converted between a start
// and a stop lie within the rate times (1 + ppm) times the shortest and the
// longest time the two packets can have been apart, whatever the load.
TEST_F(VirtualCardClockLineTest, CardsOnTheirOwnClocksDriftByTheirOffsets) {
    const int32_t offsets[] = {20'000, -20'000, 0};
    std::vector<vcard::Behaviour> behaviours;
    for (const int32_t ppm : offsets) {
        behaviours.push_back(behaviour(true));
        behaviours.back().clockOffsetPpm = ppm;
    }
    installCards(behaviours);
    Clock::time_point startedAfter[3], startedBefore[3];
    std::future<size_t> readers[3];
    for (int32_t n = 0; n < 3; ++n) {
        startedAfter[n] = Clock::now();
        start(n, kOwnClock, 0);
        startedBefore[n] = Clock::now();
        readers[n] = readEverything(n);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    for (int32_t n = 0; n < 3; ++n) {
        const auto stoppedAfter = Clock::now();
        stop(n);
        const auto stoppedBefore = Clock::now();
        const size_t samples = readers[n].get();
        const double rate = 100'000 * (1 + offsets[n] * 1e-6);
        const double shortest = std::chrono::duration<double>(stoppedAfter - startedBefore[n]).count();
        const double longest = std::chrono::duration<double>(stoppedBefore - startedAfter[n]).count();
        EXPECT_GE(double(samples), rate * shortest - 1) << offsets[n] << " ppm";
        EXPECT_LE(double(samples), rate * longest + 1) << offsets[n] << " ppm";
    }
}

TEST_F(VirtualCardClockLineTest, EachCardHasAnOffsetOfItsOwnUnlessOneIsSet) {
    installCards({vcard::Behaviour{}, vcard::Behaviour{}});
    const int32_t first = vcard::card(0).clockOffsetPpm(), second = vcard::card(1).clockOffsetPpm();
    EXPECT_NE(first, second);
    for (const int32_t ppm : {first, second}) {
        EXPECT_GE(ppm, -50);
        EXPECT_LE(ppm, 50);
    }
    vcard::Behaviour set;
    for (const auto &[asked, got] : {std::pair{20'000, 20'000}, std::pair{-250'000, -100'000}}) {
        set.clockOffsetPpm = asked;
        vcard::card(1).setBehaviour(set);
        EXPECT_EQ(vcard::card(1).clockOffsetPpm(), got);
    }
}

} // namespace
} // namespace kvd::testing
