// The chart's frames: each column holds the lowest and highest code of its
// scans for every channel, frames follow on column after column, a frame
// never exceeds 64 KiB (the oldest columns give way, and the gap shows in the
// next frame's first column), and a reader thread and a sender thread may
// work at once.
#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "panel/chart_frames.h"

namespace kvd::testing {
namespace {

using tool::AcquisitionInfo;
using namespace tool::panel;

struct Frame {
    uint8_t kind, firstChannel;
    uint16_t channels;
    uint32_t run, scansPerColumn, columns;
    uint64_t firstColumn;
    std::vector<uint16_t> extremes; // low, high, column after column
};

template <typename T> T get(const std::vector<uint8_t> &bytes, size_t at) {
    uint64_t value = 0;
    for (size_t i = 0; i < sizeof(T); ++i)
        value |= uint64_t(bytes.at(at + i)) << (8 * i);
    return T(value);
}

Frame parse(const std::vector<uint8_t> &bytes) {
    Frame f{get<uint8_t>(bytes, 0), get<uint8_t>(bytes, 1), get<uint16_t>(bytes, 2), get<uint32_t>(bytes, 4),
            get<uint32_t>(bytes, 8), get<uint32_t>(bytes, 12), get<uint64_t>(bytes, 16), {}};
    for (size_t at = kFrameHeaderBytes; at < bytes.size(); at += 2)
        f.extremes.push_back(get<uint16_t>(bytes, at));
    return f;
}

AcquisitionInfo info(int first, int last, double sampleRate) {
    AcquisitionInfo i;
    i.para.FirstChannel = first;
    i.para.LastChannel = last;
    i.sampleRate = sampleRate;
    return i;
}

// Scan s of channel c carries 1000 * c + s.
std::vector<uint16_t> scans(uint32_t channels, uint64_t first, size_t count) {
    std::vector<uint16_t> samples;
    for (uint64_t s = first; s < first + count; ++s)
        for (uint32_t c = 0; c < channels; ++c)
            samples.push_back(uint16_t(1000 * c + s));
    return samples;
}

TEST(ChartFramesTest, ColumnsHoldEachChannelsLowestAndHighestCodeAndTheHeaderSaysWhatFollows) {
    // 2 channels at 2000 scans a second, a view of 1 s: 2 scans a column.
    ChartFrames frames(7, 1.0);
    frames.begin(info(5, 6, 4000));
    ASSERT_EQ(frames.scansPerColumn(), 2u);
    const std::vector<uint16_t> block = scans(2, 0, 5); // 2 whole columns and half of one
    frames.write(block.data(), 0, 5);
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(frames.takeFrame(bytes));
    const Frame f = parse(bytes);
    EXPECT_EQ(bytes.size(), kFrameHeaderBytes + 2 * 2 * 4);
    EXPECT_EQ(f.kind, 1);
    EXPECT_EQ(f.firstChannel, 5);
    EXPECT_EQ(f.channels, 2);
    EXPECT_EQ(f.run, 7u);
    EXPECT_EQ(f.scansPerColumn, 2u);
    EXPECT_EQ(f.columns, 2u);
    EXPECT_EQ(f.firstColumn, 0u);
    EXPECT_EQ(f.extremes, (std::vector<uint16_t>{0, 1, 1000, 1001, 2, 3, 1002, 1003}));
    // The half column is completed by the next block.
    EXPECT_FALSE(frames.takeFrame(bytes));
    const std::vector<uint16_t> next = scans(2, 5, 1);
    frames.write(next.data(), 5, 1);
    ASSERT_TRUE(frames.takeFrame(bytes));
    const Frame g = parse(bytes);
    EXPECT_EQ(g.firstColumn, 2u);
    EXPECT_EQ(g.extremes, (std::vector<uint16_t>{4, 5, 1004, 1005}));
}

TEST(ChartFramesTest, SamplesAreReadAsTheCardSendsThemLeastSignificantByteFirst) {
    ChartFrames frames(1, 1.0);
    frames.begin(info(0, 0, 500)); // 1 scan a column
    const uint8_t wire[] = {0x34, 0x12};
    uint16_t sample;
    std::memcpy(&sample, wire, 2);
    frames.write(&sample, 0, 1);
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(frames.takeFrame(bytes));
    EXPECT_EQ(parse(bytes).extremes, (std::vector<uint16_t>{0x1234, 0x1234}));
}

struct ColumnCase {
    double scanRate;
    double seconds;
    uint32_t channels;
    uint32_t expected;
};

class ScansPerColumnTest : public ::testing::TestWithParam<ColumnCase> {};

TEST_P(ScansPerColumnTest, AViewOfAThousandColumnsUnlessFramesWouldOutgrowTheirLimit) {
    const ColumnCase c = GetParam();
    EXPECT_EQ(scansPerColumnFor(c.scanRate, c.seconds, c.channels), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Views, ScansPerColumnTest,
                         ::testing::Values(ColumnCase{250000, 1.0, 4, 250},   // 1 MS/s on 4 channels
                                           ColumnCase{250000, 0.1, 4, 25},    //
                                           ColumnCase{100, 1.0, 1, 1},        // slower than the columns
                                           ColumnCase{2500, 1.0, 4, 3},       // 2.5 rounds up
                                           ColumnCase{10000000, 0.001, 1, 41}, // the frames' limit: 16378 columns a frame
                                           // 256 channels: 63 columns a frame, 945 a second at most
                                           ColumnCase{39062.5, 0.001, 256, 42}));

TEST(ChartFramesTest, ASenderThatFallsBehindGetsAtMost64KiBAndSeesTheGap) {
    ChartFrames frames(1, 1.0);
    frames.begin(info(0, 255, 230400)); // 256 channels, 900 scans a second: 1 scan a column
    const size_t most = maxColumnsPerFrame(256);
    ASSERT_EQ(most, (kMaxFrameBytes - kFrameHeaderBytes) / (256 * 4));
    const std::vector<uint16_t> block = scans(256, 0, most + 10);
    frames.write(block.data(), 0, most + 10);
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(frames.takeFrame(bytes));
    EXPECT_LE(bytes.size(), kMaxFrameBytes);
    const Frame f = parse(bytes);
    EXPECT_EQ(f.columns, most);
    EXPECT_EQ(f.firstColumn, 10u); // the 10 oldest gave way
    EXPECT_EQ(f.extremes[0], 10u); // channel 0 of scan 10
}

TEST(ChartFramesTest, ANewViewStartsTheColumnsAgain) {
    ChartFrames frames(1, 1.0);
    frames.begin(info(0, 0, 10000));
    const std::vector<uint16_t> block = scans(1, 0, 100);
    frames.write(block.data(), 0, 100);
    frames.setViewSeconds(0.5);
    EXPECT_EQ(frames.scansPerColumn(), 5u);
    std::vector<uint8_t> bytes;
    EXPECT_FALSE(frames.takeFrame(bytes));
    frames.write(block.data(), 100, 10);
    ASSERT_TRUE(frames.takeFrame(bytes));
    EXPECT_EQ(parse(bytes).firstColumn, 0u);
    EXPECT_EQ(parse(bytes).columns, 2u);
}

// The reader writes while the sender takes: every column arrives once, in
// order (fewer columns in all than a frame holds, so none may give way).
TEST(ChartFramesThreadTest, EveryColumnArrivesOnceInOrderWhileBothThreadsWork) {
    ChartFrames frames(1, 1.0);
    frames.begin(info(0, 3, 40000)); // 4 channels, 10000 scans a second: 10 scans a column
    constexpr size_t kBlocks = 600, kBlockScans = 50, kColumns = kBlocks * kBlockScans / 10;
    ASSERT_LT(kColumns, maxColumnsPerFrame(4));
    std::atomic<bool> written{false};
    std::thread reader([&] {
        for (size_t b = 0; b < kBlocks; ++b) {
            const std::vector<uint16_t> block = scans(4, b * kBlockScans, kBlockScans);
            frames.write(block.data(), b * kBlockScans, kBlockScans);
        }
        written = true;
    });
    uint64_t next = 0;
    size_t frameCount = 0;
    std::vector<uint8_t> bytes;
    const auto drain = [&] {
        while (frames.takeFrame(bytes)) {
            const Frame f = parse(bytes);
            EXPECT_EQ(f.firstColumn, next);
            EXPECT_EQ(f.extremes[0], uint16_t(f.firstColumn * 10)); // channel 0's lowest: the column's first scan
            next = f.firstColumn + f.columns;
            ++frameCount;
        }
    };
    while (!written)
        drain();
    reader.join();
    drain();
    EXPECT_EQ(next, kColumns);
    EXPECT_GE(frameCount, 1u);
}

} // namespace
} // namespace kvd::testing
