// The card's sample clock and the channels of a record, as the library, the
// stream library and the tool all count them.
#include <gtest/gtest.h>

#include "facts/card_limits.h"
#include "facts/channel_count.h"
#include "facts/scan_rate.h"

namespace kvd::facts {
namespace {

TEST(ScanRate, TheDividerIsTheTimeBaseOverFrequencyTruncated) {
    const struct {
        int32_t frequency;
        uint32_t divider;
        double rate;
    } cases[] = {
        {kTimeBaseHz, 1, 10e6},   {3'000'000, 3, 10e6 / 3}, {100'000, 100, 100e3},
        {1, 10'000'000, 1},       {6'000'000, 1, 10e6},     {0, 0, 10e6},
        {-5, 0, 10e6},            {20'000'000, 0, 10e6},    {4'000'000, 2, 5e6},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(periodDivider(c.frequency), c.divider) << c.frequency;
        EXPECT_DOUBLE_EQ(cardSampleRate(c.frequency), c.rate) << c.frequency;
    }
}

TEST(ScanRate, TheFrequencyOfScansCountsEveryChannel) {
    const struct {
        double scans;
        int32_t channels;
        std::optional<int32_t> frequency;
    } cases[] = {
        {1000, 4, 4000},        {2.5e6, 4, 10'000'000}, {2.5e6 + 1, 4, std::nullopt}, {0.3, 1, std::nullopt},
        {0.5, 3, 2},            {1e300, 1, std::nullopt}, {-10, 2, std::nullopt},      {0, 1, std::nullopt},
    };
    for (const auto &c : cases)
        EXPECT_EQ(frequencyForScans(c.scans, c.channels), c.frequency) << c.scans << " x " << c.channels;
}

TEST(ChannelCount, CountsTheLowEightBitsOfEachChannel) {
    const struct {
        int32_t first, last, count;
    } cases[] = {{0, 3, 4}, {5, 5, 1}, {0, 255, 256}, {256, 259, 4}, {3, 0, -2}, {0, 300, 45}, {-1, 0, -254}};
    for (const auto &c : cases)
        EXPECT_EQ(channelCount(c.first, c.last), c.count) << c.first << "-" << c.last;
}

} // namespace
} // namespace kvd::facts
