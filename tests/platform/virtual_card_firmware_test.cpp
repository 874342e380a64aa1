// The virtual card's firmware: the packet fields that only it keeps.
#include "card_model/firmware.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <vector>

namespace kvd::vcard {
namespace {

void take(Firmware &firmware, std::vector<uint8_t> packet) {
    firmware.takeAdCommand(packet.data(), static_cast<uint32_t>(packet.size()));
}

TEST(VirtualCardFirmware, RangeAndConfigurationPackets) {
    Firmware firmware(3);
    take(firmware, {0x01, 0x20, 0x80});
    EXPECT_EQ(firmware.rangeWord(), 0x8020);
    take(firmware, {0x01, 0x01, 0xB0});
    EXPECT_EQ(firmware.rangeWord(), 0xB001);

    // The default set-up's configuration packet.
    take(firmware, {0x02, 0x00, 0x01, 0x00, 0x00, 0x90, 0x01, 0x00, 0x00, 0x10, 0x27, 0x00, 0x00, 0x01, 0x00, 0x00,
                    0x00, 0x0A});
    EXPECT_EQ(firmware.firstChannel(), 0);
    EXPECT_EQ(firmware.lastChannel(), 1);
    EXPECT_EQ(firmware.divider(), 400u);
    EXPECT_FALSE(firmware.running());
}

TEST(VirtualCardFirmware, ShortPacketReadsAsZeroFilled) {
    Firmware firmware(3);
    take(firmware, {0x02, 0x04, 0x06, 0x00, 0x00, 0x43});
    EXPECT_EQ(firmware.lastChannel(), 6);
    EXPECT_EQ(firmware.divider(), 0x43u);
    take(firmware, {0x02, 0x04});
    EXPECT_EQ(firmware.lastChannel(), 0);
    EXPECT_EQ(firmware.divider(), 0u);
    take(firmware, {});
    take(firmware, {0x7F, 0x01}); // unknown code: ignored
    EXPECT_EQ(firmware.firstChannel(), 4);
}

} // namespace
} // namespace kvd::vcard

namespace kvd::vcard {
namespace {

// A clock the test moves by hand, in nanoseconds.
Nanoseconds g_now = 0;
Nanoseconds handClock() { return g_now; }

TEST(VirtualCardFirmware, ConvertsOneSamplePerDividerOfTheClockItWasGiven) {
    Firmware firmware(3, &handClock);
    g_now = 1'000;
    // One channel, divider 400: a sample every 40 us.
    take(firmware, {0x02, 0x00, 0x00, 0x00, 0x00, 0x90, 0x01, 0x00, 0x00});
    take(firmware, {0x03, 0x01});
    EXPECT_EQ(firmware.samplesConverted(g_now), 0u);
    EXPECT_EQ(firmware.samplesConverted(Nanoseconds(1'000 + 5 * 40'000 - 1)), 4u);
    EXPECT_EQ(firmware.samplesConverted(Nanoseconds(1'000 + 5 * 40'000)), 5u);
    EXPECT_EQ(firmware.convertedAt(5), Nanoseconds(1'000 + 5 * 40'000));
    EXPECT_EQ(firmware.convertedAt(~uint64_t(0) / 2), ~Nanoseconds(0)) << "saturates";

    g_now = 1'000 + 7 * 40'000;
    take(firmware, {0x03, 0x00});
    EXPECT_EQ(firmware.samplesConverted(Nanoseconds(1'000'000'000)), 7u) << "a stop ends the count";
    EXPECT_EQ(firmware.now(), g_now);
}

TEST(VirtualCardFirmware, DividerZeroRunsAtOneSamplePerTick) {
    Firmware firmware(3, &handClock);
    g_now = 0;
    take(firmware, {0x03, 0x01});
    EXPECT_EQ(firmware.samplesConverted(Nanoseconds(1'000)), 10u);
}

// The stream's own sine (the kernel lends no maths library) gives the codes
// the C library's sine gives, for every channel kind and every scan.
TEST(VirtualCardSignals, WaveformsMatchTheLibrarySine) {
    for (uint32_t channel = 0; channel < 16; ++channel) {
        const uint32_t group = channel / 4;
        const uint64_t period = SampleStream::kScansPerPeriod >> (group % 4);
        for (uint64_t scan = 0; scan < SampleStream::kScansPerPeriod; ++scan) {
            const double phase = double(scan % period) / double(period);
            const double turns = channel % 4 == 3 ? 4 * phase : channel % 4 == 0 ? phase : -1;
            if (turns < 0)
                continue;
            const double value = 0.9 / (1 + group) * std::sin(2 * 3.14159265358979323846 * turns);
            const auto expected = static_cast<uint16_t>(std::lround(32768.0 + value * 32767.0));
            ASSERT_EQ(SampleStream::sampleAt(Signals::Waveforms, channel, scan), expected)
                << "channel " << channel << " scan " << scan;
        }
    }
}

std::vector<uint16_t> samplesOf(SampleStream &stream, uint32_t count) {
    std::vector<uint8_t> bytes(2 * count);
    stream.read(bytes.data(), uint32_t(bytes.size()));
    std::vector<uint16_t> samples(count);
    for (uint32_t i = 0; i < count; ++i)
        samples[i] = uint16_t(bytes[2 * i] | bytes[2 * i + 1] << 8);
    return samples;
}

TEST(VirtualCardSignals, NoiseStartsAgainWithEveryPeriod) {
    SampleStream stream;
    stream.setSignals(Signals::Counting, {100, 7});
    stream.start(2, 3);
    const std::vector<uint16_t> first = samplesOf(stream, 2 * SampleStream::kScansPerPeriod);
    const std::vector<uint16_t> second = samplesOf(stream, 2 * SampleStream::kScansPerPeriod);
    EXPECT_EQ(first, second);
    EXPECT_EQ(stream.samplesDelivered(), 4u * SampleStream::kScansPerPeriod);
    int noisy = 0;
    for (uint32_t i = 0; i < first.size(); ++i) {
        const int clean = SampleStream::sampleAt(Signals::Counting, 2 + i % 2, i / 2);
        EXPECT_LE(std::abs(first[i] - clean), 100) << i;
        noisy += first[i] != clean;
    }
    EXPECT_GT(noisy, 8000);
}

TEST(VirtualCardSignals, OddReadsDeliverTheLowByteAndMoveOnPastTheSample) {
    SampleStream stream;
    stream.start(1, 1);
    uint8_t bytes[3] = {0, 0, 0xEE};
    stream.read(bytes, 3);
    EXPECT_EQ(bytes[0], 0x00); // 0x1000: channel 1, scan 0
    EXPECT_EQ(bytes[1], 0x10);
    EXPECT_EQ(bytes[2], 0x01); // scan 1, low byte only
    EXPECT_EQ(stream.samplesDelivered(), 2u);
    EXPECT_EQ(samplesOf(stream, 1), std::vector<uint16_t>{0x1002});
}

TEST(VirtualCardSignals, AReadBeforeAnyStartStreamsChannelZero) {
    SampleStream stream;
    stream.setSignals(Signals::Counting, {});
    EXPECT_EQ(samplesOf(stream, 3), (std::vector<uint16_t>{0, 1, 2}));
}

// A stream lent memory for a period copies what a stream without it computes,
// byte for byte, whatever the read sizes, signals, noise and channels.
TEST(VirtualCardSignals, AStreamWithAPeriodCopyGivesTheComputedBytes) {
    struct Case {
        Signals signals;
        Noise noise;
        uint8_t first, last;
    };
    const Case cases[] = {{Signals::Counting, {}, 0, 3},
                          {Signals::Waveforms, {}, 2, 9},
                          {Signals::Waveforms, {40, 7}, 0, 0},
                          {Signals::Waveforms, {3, 1}, 5, 255}};
    std::vector<uint8_t> storage(SampleStream::kMaxPeriodBytes);
    for (const Case &c : cases) {
        SampleStream computed, copied;
        copied.setPeriodStorage(storage.data(), static_cast<uint32_t>(storage.size()));
        for (SampleStream *stream : {&computed, &copied}) {
            stream->setSignals(c.signals, c.noise);
            stream->start(c.first, c.last);
        }
        for (uint32_t size : {1u, 2u, 511u, 70000u, 3u, 4096u * 2u * 9u + 5u}) {
            std::vector<uint8_t> a(size), b(size);
            computed.read(a.data(), size);
            copied.read(b.data(), size);
            ASSERT_EQ(a, b) << int(c.first) << "-" << int(c.last) << " size " << size;
        }
        EXPECT_EQ(computed.samplesDelivered(), copied.samplesDelivered());
    }
}

// Skipping samples leaves the stream where reading them would have, noise
// state included, with and without a period copy, across period ends.
TEST(VirtualCardSignals, SkippedSamplesLeaveTheStreamWhereReadingThemWould) {
    std::vector<uint8_t> storage(SampleStream::kMaxPeriodBytes);
    for (const bool lent : {false, true}) {
        for (const uint64_t skipped : {uint64_t(3), uint64_t(4096 * 3 - 1), uint64_t(4096 * 3 * 5 + 7)}) {
            SampleStream read, skipping;
            for (SampleStream *stream : {&read, &skipping}) {
                if (lent && stream == &skipping)
                    stream->setPeriodStorage(storage.data(), static_cast<uint32_t>(storage.size()));
                stream->setSignals(Signals::Waveforms, {25, 9});
                stream->start(4, 6);
                samplesOf(*stream, 100);
            }
            std::vector<uint8_t> discarded(2 * skipped);
            read.read(discarded.data(), uint32_t(discarded.size()));
            skipping.skip(skipped);
            EXPECT_EQ(skipping.samplesDelivered(), read.samplesDelivered());
            EXPECT_EQ(samplesOf(skipping, 5000), samplesOf(read, 5000)) << "lent " << lent << " skipped " << skipped;
        }
    }
}

// One channel every 40 us on the hand clock, the memory holding 1000 samples
// of 3 channels: a read that comes late finds the oldest samples gone, in
// whole scans, and the stream going on from the oldest sample still held.
TEST(VirtualCardFirmware, MemoryOverflowLosesTheOldestWholeScans) {
    Firmware firmware(3, &handClock);
    firmware.setMemorySamples(1000);
    g_now = 0;
    take(firmware, {0x02, 0x00, 0x02, 0x00, 0x00, 0x90, 0x01, 0x00, 0x00}); // channels 0-2, divider 400
    take(firmware, {0x03, 0x01});
    const auto at = [](uint64_t samples) { return Nanoseconds(samples * 40'000); };

    EXPECT_EQ(firmware.loseOverflow(at(1000)), 0u) << "exactly full loses nothing";
    std::vector<uint8_t> bytes(2 * 600);
    firmware.readSamples(bytes.data(), uint32_t(bytes.size())); // scans 0-199
    EXPECT_EQ(firmware.loseOverflow(at(1600)), 0u);

    // 2000 converted, 600 read: 1400 wait, 400 too many: 134 scans (402 samples) go.
    EXPECT_EQ(firmware.loseOverflow(at(2000)), 402u);
    EXPECT_EQ(firmware.samplesLost(), 402u);
    EXPECT_EQ(firmware.samplesDelivered(), 1002u);
    firmware.readSamples(bytes.data(), 6);
    EXPECT_EQ(bytes[0] | bytes[1] << 8, 0x0000 | 334) << "channel 0 of scan 334";
    EXPECT_EQ(bytes[2] | bytes[3] << 8, 0x1000 | 334);
    EXPECT_EQ(firmware.loseOverflow(at(2000)), 0u) << "what is held fits";

    take(firmware, {0x03, 0x01});
    EXPECT_EQ(firmware.samplesLost(), 0u) << "a start counts afresh";
    firmware.setMemorySamples(0);
    EXPECT_EQ(firmware.loseOverflow(at(1'000'000)), 0u) << "no limit";
}

// A memory smaller than one scan keeps the last whole scans and never skips
// samples not converted yet.
TEST(VirtualCardFirmware, MemorySmallerThanAScanKeepsWholeScans) {
    Firmware firmware(3, &handClock);
    firmware.setMemorySamples(2);
    g_now = 0;
    take(firmware, {0x02, 0x00, 0x03, 0x00, 0x00, 0x90, 0x01, 0x00, 0x00}); // 4 channels
    take(firmware, {0x03, 0x01});
    EXPECT_EQ(firmware.loseOverflow(Nanoseconds(10 * 40'000)), 8u);
    EXPECT_EQ(firmware.samplesDelivered(), 8u);
}

} // namespace
} // namespace kvd::vcard
