// The card model on a clock line, on a clock the test moves by hand: the
// clock codes of the mode byte, the scans a card on the received clock
// converts, the line's ticks as the driving card makes them, and the offset
// of a card's own clock.
#include <gtest/gtest.h>

#include <vector>

#include "card_model/firmware.h"
#include "card_model/sample_clock.h"
#include "platform/virtual/shared_clock_line.h"

namespace kvd::vcard {
namespace {

Nanoseconds g_handNow = 0;
Nanoseconds handClock() { return g_handNow; }

constexpr uint8_t kOwnClock = 0;

// Configures channels first to last at a divider (100 ns ticks) with the
// mode byte's clock codes, then starts.
void start(Firmware &card, uint8_t first, uint8_t last, uint32_t divider, uint8_t mode) {
    const uint8_t config[] = {protocol::kCmdAdConfig, first, last, mode, 0, uint8_t(divider), uint8_t(divider >> 8),
                              uint8_t(divider >> 16), uint8_t(divider >> 24)};
    card.takeAdCommand(config, sizeof config);
    const uint8_t run[] = {protocol::kCmdAdRun, 1};
    card.takeAdCommand(run, sizeof run);
}

void stop(Firmware &card) {
    const uint8_t run[] = {protocol::kCmdAdRun, 0};
    card.takeAdCommand(run, sizeof run);
}

constexpr Nanoseconds kMillisecond = 1'000'000;

TEST(VirtualCardSampleClock, CountsTheExactTicksOffsetByItsPpmAndFindsWhenEachComes) {
    struct Case {
        int32_t ppm;
        Nanoseconds elapsed;
        uint64_t ticks;
    };
    // A tick every 10 us from 5 ms on.
    const Case cases[] = {
        {0, 1'000 * kMillisecond, 100'000},       {20'000, 1'000 * kMillisecond, 102'000},
        {-20'000, 1'000 * kMillisecond, 98'000},  {50, 1'000 * kMillisecond, 100'005},
        {-50, 10 * kMillisecond, 999},            {kMaxClockOffsetPpm, 3'600'000 * kMillisecond, 396'000'000},
        {-kMaxClockOffsetPpm, 9'999, 0},          {20'000, 0, 0},
    };
    for (const Case &c : cases) {
        const SampleClock clock{5 * kMillisecond, 10'000, c.ppm};
        EXPECT_EQ(clock.ticksBy(clock.start + c.elapsed), c.ticks) << c.ppm << " ppm after " << c.elapsed << " ns";
        const Nanoseconds at = clock.tickAt(c.ticks + 1);
        EXPECT_EQ(clock.ticksBy(at), c.ticks + 1) << c.ppm;
        EXPECT_EQ(clock.ticksBy(at - 1), c.ticks) << c.ppm << ": the first time it is reached";
    }
    EXPECT_EQ((SampleClock{0, 10'000, 0}.tickAt(~uint64_t(0) / 2)), kNever) << "past the clock's range";
}

TEST(VirtualCardSampleClock, OffsetsBeyondTenPercentAreClamped) {
    EXPECT_EQ(clampedOffsetPpm(250'000), kMaxClockOffsetPpm);
    EXPECT_EQ(clampedOffsetPpm(-1'000'000), -kMaxClockOffsetPpm);
    EXPECT_EQ(clampedOffsetPpm(-123), -123);
}

// Two cards on one line, as the registry wires them. The driver converts 2
// channels at a sample every 10 us (a scan, a tick, every 20 us); the taker
// has 3 channels and a divider of its own, which the received clock overrides.
class VirtualCardClockLineFirmwareTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_handNow = 1'000 * kMillisecond;
        for (Firmware *card : {&driver_, &taker_, &late_})
            card->wireClockLine(&line_);
    }
    void startDriver() { start(driver_, 0, 1, 100, kModeClockOutput); }
    void startTaker(Firmware &taker) { start(taker, 4, 6, 7, kModeExternalClock); }
    static Nanoseconds scans(uint64_t count) { return count * 20'000; }

    SharedClockLine line_;
    Firmware driver_{7, &handClock}, taker_{9, &handClock}, late_{5, &handClock};
};

TEST_F(VirtualCardClockLineFirmwareTest, ACardOnTheReceivedClockConvertsNothingWithoutADriver) {
    startTaker(taker_);
    EXPECT_TRUE(taker_.onReceivedClock());
    g_handNow += 1'000 * kMillisecond;
    EXPECT_EQ(taker_.samplesConverted(g_handNow), 0u);
    EXPECT_EQ(taker_.convertedAt(1), kNever);
    start(driver_, 0, 1, 100, kOwnClock); // converting, but its clock output is off
    g_handNow += scans(50);
    EXPECT_EQ(taker_.samplesConverted(g_handNow), 0u);
}

TEST_F(VirtualCardClockLineFirmwareTest, ATakerStartedFirstConvertsAScanPerScanOfTheDriverUntilTheDriverStops) {
    startTaker(taker_);
    g_handNow += 3 * kMillisecond; // waiting for ticks
    startDriver();
    const Nanoseconds driverStart = g_handNow;
    for (const uint64_t scan : {0u, 1u, 49u, 50u, 12'345u}) {
        const Nanoseconds at = driverStart + scans(scan);
        EXPECT_EQ(driver_.samplesConverted(at), 2 * scan);
        EXPECT_EQ(taker_.samplesConverted(at), 3 * scan) << "scan " << scan;
        EXPECT_EQ(taker_.samplesConverted(at + scans(1) - 1), 3 * scan) << "no scan before its tick";
    }
    EXPECT_EQ(taker_.convertedAt(3 * 100), driverStart + scans(100));
    EXPECT_EQ(taker_.convertedAt(3 * 100 - 2), driverStart + scans(100)) << "a scan needs its tick";

    g_handNow = driverStart + scans(600) + 5'000;
    stop(driver_);
    g_handNow += 1'000 * kMillisecond;
    EXPECT_EQ(driver_.samplesConverted(g_handNow), 2 * 600u);
    EXPECT_EQ(taker_.samplesConverted(g_handNow), 3 * 600u) << "no tick after the driver's stop";
    EXPECT_EQ(taker_.convertedAt(3 * 601), kNever);

    startDriver(); // a second run of the driver ticks on
    g_handNow += scans(10);
    EXPECT_EQ(taker_.samplesConverted(g_handNow), 3 * 610u);
    stop(taker_);
    g_handNow += scans(10);
    EXPECT_EQ(taker_.samplesConverted(g_handNow), 3 * 610u) << "a stopped card converts no more";
}

TEST_F(VirtualCardClockLineFirmwareTest, ATakerStartedAfterTheDriverMissesTheTicksBeforeItsStart) {
    startTaker(taker_);
    startDriver();
    const Nanoseconds driverStart = g_handNow;
    g_handNow += scans(300) + 7'000;
    startTaker(late_);
    g_handNow = driverStart + scans(1'000);
    EXPECT_EQ(taker_.samplesConverted(g_handNow), 3 * 1'000u);
    EXPECT_EQ(late_.samplesConverted(g_handNow), 3 * 700u);
}

TEST_F(VirtualCardClockLineFirmwareTest, AnUnpacedDriverTicksOncePerWholeScanRead) {
    driver_.setPace(Pace::Reads);
    startTaker(taker_);
    startDriver();
    std::vector<uint8_t> bytes(2 * 1001);
    driver_.readSamples(bytes.data(), uint32_t(bytes.size())); // 500 scans and half of one
    EXPECT_EQ(taker_.samplesConverted(g_handNow + 1'000 * kMillisecond), 3 * 500u) << "time alone ticks nothing";
    EXPECT_EQ(taker_.convertedAt(3 * 501), kNever);
    driver_.readSamples(bytes.data(), 2);
    EXPECT_EQ(taker_.samplesConverted(g_handNow), 3 * 501u);
    stop(driver_);
    driver_.readSamples(bytes.data(), 8);
    EXPECT_EQ(taker_.samplesConverted(g_handNow), 3 * 501u) << "a stopped driver ticks no more";
}

TEST_F(VirtualCardClockLineFirmwareTest, ACardWithBothCodesTakesTheLineAndAddsNoTickOfItsOwn) {
    startTaker(taker_);
    start(late_, 0, 0, 100, kModeExternalClock | kModeClockOutput);
    startDriver();
    g_handNow += scans(40);
    EXPECT_EQ(late_.samplesConverted(g_handNow), 40u);
    EXPECT_EQ(taker_.samplesConverted(g_handNow), 3 * 40u);
}

TEST_F(VirtualCardClockLineFirmwareTest, TheStopsRestartOnTheOwnClockEndsTheWaitForTicks) {
    startTaker(taker_);
    start(taker_, 4, 6, 100, kOwnClock); // the stop's configuration, ClockSource forced to 0, and its start
    EXPECT_FALSE(taker_.onReceivedClock());
    g_handNow += 30 * 10'000;
    EXPECT_EQ(taker_.samplesConverted(g_handNow), 30u) << "its own clock again";
}

TEST_F(VirtualCardClockLineFirmwareTest, TheLineTicksAtTheDriversOffsetClockAndTheTakerFollowsIt) {
    driver_.setClockOffsetPpm(20'000);
    taker_.setClockOffsetPpm(-20'000); // its own clock is not in use
    startTaker(taker_);
    startDriver();
    g_handNow += 1'000 * kMillisecond; // 50 000 scans of an exact clock
    EXPECT_EQ(driver_.samplesConverted(g_handNow), 2 * 51'000u);
    EXPECT_EQ(taker_.samplesConverted(g_handNow), 3 * 51'000u);
}

TEST(VirtualCardClockOffset, AFreeRunningCardConvertsAtItsRateTimesOnePlusItsOffset) {
    struct Case {
        int32_t ppm;
        uint64_t samples; // after one second at 100 kS/s
    };
    for (const Case c : {Case{0, 100'000}, Case{20'000, 102'000}, Case{-20'000, 98'000}, Case{-7, 99'999}}) {
        Firmware card(3, &handClock);
        card.setClockOffsetPpm(c.ppm);
        g_handNow = 0;
        start(card, 0, 1, 100, kOwnClock);
        EXPECT_EQ(card.samplesConverted(Nanoseconds(1'000 * kMillisecond)), c.samples) << c.ppm << " ppm";
        EXPECT_LE(card.convertedAt(c.samples), 1'000 * kMillisecond) << c.ppm << " ppm";
        EXPECT_GT(card.convertedAt(c.samples + 1), 1'000 * kMillisecond) << c.ppm << " ppm";
    }
}

} // namespace
} // namespace kvd::vcard
