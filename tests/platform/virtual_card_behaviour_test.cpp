// A virtual card as an instrument: documented waveforms, seeded noise, and
// reads paced by the clock at the configured rate.
#include <chrono>
#include <cmath>
#include <future>
#include <thread>

#include <gtest/gtest.h>

#include "device/device_object.h"
#include "card_model/driver_protocol.h"
#include "card_model/sample_stream.h"
#include "support/test_support.h"

namespace kvd::testing {
namespace {

using vcard::SampleStream;
using vcard::Signals;
namespace protocol = kvd::protocol;
using Clock = std::chrono::steady_clock;

ADPara paraFor(int32_t first, int32_t last, int32_t frequency) {
    ADPara para = {0, 0, first, last, frequency, 0, 1000, 1, 0, 0, 0, 0, 0, 10, 0, 0, 0};
    return para;
}

TEST(VirtualCardSignals, WaveformsAsDocumented) {
    struct Case {
        uint32_t channel;
        uint64_t scan;
        uint16_t code;
    };
    const uint16_t top = 32768 + 29490, bottom = 32768 - 29490; // +-0.9 of full scale
    const Case cases[] = {
        {0, 0, 32768},    {0, 1024, top},   {0, 3072, bottom}, {0, 4096 + 1024, top}, // sine, period 4096
        {1, 0, top},      {1, 2047, top},   {1, 2048, bottom},                         // square
        {2, 0, bottom},   {2, 2048, 32768},                                            // ramp
        {3, 256, top},    {3, 768, bottom},                                            // sine, period 1024
        {4, 512, 32768 + 14745},                                                       // amplitude 0.45, period 2048
        {8, 256, 32768 + 9830},                                                        // amplitude 0.3, period 1024
    };
    for (const Case &c : cases)
        EXPECT_EQ(SampleStream::sampleAt(Signals::Waveforms, c.channel, c.scan), c.code)
            << "channel " << c.channel << " scan " << c.scan;
}

class VirtualCardBehaviourTest : public VirtualCardTest {
protected:
    void open(const vcard::Behaviour &behaviour) {
        vcard::install({7}, behaviour);
        handle_ = openRecord(0);
    }
    std::vector<uint16_t> read(uint32_t count) {
        std::vector<uint16_t> samples(count);
        uint32_t got = 0;
        EXPECT_EQ(KVD4093_ReadDeviceAD(handle_, samples.data(), count, &got), 1);
        samples.resize(got);
        return samples;
    }
    KVD4093_HANDLE handle_ = nullptr;
};

TEST_F(VirtualCardBehaviourTest, ReadsScanTheChannelsThroughThePeriod) {
    open({false, Signals::Waveforms, {}});
    const ADPara para = paraFor(2, 5, 100000);
    ASSERT_EQ(KVD4093_InitDeviceAD(handle_, &para), 1); // takes scans 0 to 127
    const std::vector<uint16_t> samples = read(4 * 5000);
    ASSERT_EQ(samples.size(), 20000u);
    for (uint64_t i = 0; i < samples.size(); ++i) {
        const uint64_t scan = 128 + i / 4;
        ASSERT_EQ(samples[i], SampleStream::sampleAt(Signals::Waveforms, 2 + i % 4, scan)) << i;
    }
}

TEST_F(VirtualCardBehaviourTest, SeededNoiseStaysWithinItsAmplitudeAndRepeats) {
    auto noisy = [this](uint32_t seed) {
        open({false, Signals::Waveforms, {40, seed}});
        const ADPara para = paraFor(0, 1, 100000);
        EXPECT_EQ(KVD4093_InitDeviceAD(handle_, &para), 1);
        return read(2000);
    };
    const std::vector<uint16_t> first = noisy(11), again = noisy(11), other = noisy(12);
    EXPECT_EQ(first, again);
    EXPECT_NE(first, other);
    int moved = 0;
    for (size_t i = 0; i < first.size(); ++i) {
        const int clean = SampleStream::sampleAt(Signals::Waveforms, i % 2, 256 + i / 2);
        EXPECT_LE(std::abs(first[i] - clean), 40) << i;
        moved += first[i] != clean;
    }
    EXPECT_GT(moved, 1500);
}

TEST_F(VirtualCardBehaviourTest, PacedReadWaitsForItsSamples) {
    open({true, Signals::Counting, {}});
    const ADPara para = paraFor(0, 0, 25000); // one sample every 40 us
    ASSERT_EQ(KVD4093_InitDeviceAD(handle_, &para), 1);
    const auto start = Clock::now();
    EXPECT_EQ(read(2500).size(), 2500u); // 100 ms of samples
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(80));
}

// A paced card holds 20000 samples (200 ms at 100 kS/s) between reads: read
// on time it loses none; read half a second late it has lost its oldest
// samples, and the stream goes on from the oldest it still holds.
TEST_F(VirtualCardBehaviourTest, PacedCardReadTooLateLosesItsOldestSamples) {
    vcard::Behaviour behaviour{true, Signals::Counting, {}};
    behaviour.memorySamples = 20000;
    open(behaviour);
    const ADPara para = paraFor(0, 0, 100000);
    ASSERT_EQ(KVD4093_InitDeviceAD(handle_, &para), 1); // samples 0 to 511
    uint64_t next = 512;
    for (int block = 0; block < 10; ++block) {
        const std::vector<uint16_t> samples = read(1000);
        ASSERT_EQ(samples.size(), 1000u);
        for (uint16_t sample : samples)
            ASSERT_EQ(sample, next++ & 0x0FFF);
    }
    EXPECT_EQ(vcard::card(0).samplesLost(), 0u) << "read on time";

    const auto late = Clock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const std::vector<uint16_t> samples = read(1000);
    const double seconds = std::chrono::duration<double>(Clock::now() - late).count();
    ASSERT_EQ(samples.size(), 1000u);
    const uint64_t lost = vcard::card(0).samplesLost();
    EXPECT_GE(lost, 50000u - 20000u);
    EXPECT_LE(lost, uint64_t(seconds * 100000));
    EXPECT_EQ(samples[0], (next + lost) & 0x0FFF) << "the oldest sample held comes first";
    for (size_t i = 1; i < samples.size(); ++i)
        ASSERT_EQ(samples[i], (next + lost + i) & 0x0FFF);
}

// A paced acquisition reprogrammed to one sample a second, with a read of
// 1000 samples waiting in the card far longer than any test.
class WaitingReadTest : public VirtualCardBehaviourTest {
protected:
    void SetUp() override {
        open({true, Signals::Counting, {}});
        const ADPara para = paraFor(0, 0, 100000);
        ASSERT_EQ(KVD4093_InitDeviceAD(handle_, &para), 1);
        uint8_t config[512] = {protocol::kCmdAdConfig, 0, 0, 0, 0, 0x80, 0x96, 0x98, 0x00};
        uint8_t start[512] = {protocol::kCmdAdRun, 1};
        uint32_t written = 0;
        ASSERT_EQ(BulkWrite(handle_, 0, config, 512, &written), 1);
        ASSERT_EQ(BulkWrite(handle_, 0, start, 512, &written), 1);
        reader_ = std::async(std::launch::async, [this] { return read(1000).size(); });
        ASSERT_TRUE(vcard::card(0).waitForPacedRead(5000));
    }
    std::future<size_t> reader_;
};

TEST_F(WaitingReadTest, StopsFastRestartLetsItFinish) {
    const auto start = Clock::now();
    EXPECT_EQ(KVD4093_ReleaseDeviceAD(handle_), 1);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1500)) << "the read finished at the fast rate";
    EXPECT_EQ(reader_.get(), 1000u);
}

TEST_F(WaitingReadTest, StopEndsItWithWhatWasConverted) {
    uint8_t stop[512] = {protocol::kCmdAdRun, 0};
    uint32_t written = 0;
    ASSERT_EQ(BulkWrite(handle_, 0, stop, 512, &written), 1);
    EXPECT_LE(reader_.get(), 2u);
}

} // namespace
} // namespace kvd::testing
