// The software card driver's reads take a range of the stream under the
// card's lock and compute it afterwards: the bytes must be those the card
// model's own stream delivers, read after read, across restarts.
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "card_model/sample_stream.h"
#include "sample_ranges.h"

namespace kvd::testing {
namespace {

using testcard::SampleLedger;
using testcard::SampleRange;
using vcard::SampleStream;

struct Case {
    uint8_t first, last;
    std::vector<uint32_t> reads; // bytes of each read, in order
};

// 4096 scans make one period of the stream.
const Case kCases[] = {
    {0, 0, {2, 2, 1000}},
    {0, 3, {1, 3, 8, 4096 * 4 * 2 + 7, 5}}, // odd sizes, a read across a period
    {5, 5, {7, 0, 9}},
    {2, 7, {6 * 2 * 100, 13, 6 * 2 * 4096 * 3}},
    {3, 1, {10, 10}}, // the last channel below the first: the first alone
    {250, 255, {4096 * 6 * 2 + 1, 11}},
};

TEST(SampleRangesTest, RangesFilledLaterMatchTheModelsStreamReadByRead) {
    for (const Case &c : kCases) {
        SCOPED_TRACE(::testing::Message() << "channels " << int(c.first) << " to " << int(c.last));
        SampleStream stream;
        stream.setSignals(testcard::kCardSignals, {});
        SampleLedger ledger;
        for (int start = 0; start < 2; ++start) { // a restart begins again at scan 0
            stream.start(c.first, c.last);
            ledger.restart(c.first, c.last);
            for (const uint32_t size : c.reads) {
                SCOPED_TRACE(size);
                const SampleRange range = ledger.reserve(size);
                EXPECT_EQ(ledger.delivered(), stream.samplesDelivered() + (size + 1) / 2) << "moved on at once";
                std::vector<uint8_t> model(size + 1, 0xEE), filled(size + 1, 0xEE);
                stream.read(model.data(), size);
                range.fill(filled.data());
                ASSERT_EQ(filled, model) << "the byte after the range stays untouched in both";
            }
        }
    }
}

TEST(SampleRangesTest, ARangeKeepsItsSamplesWhenTheStreamMovesOnOrRestarts) {
    SampleLedger ledger;
    ledger.restart(0, 1);
    ledger.reserve(6); // samples 0 to 2
    const SampleRange range = ledger.reserve(8);
    EXPECT_EQ(range.first, 3u);
    ledger.restart(4, 4);
    ledger.reserve(100);
    uint8_t out[8];
    range.fill(out);
    const uint16_t expected[4] = {
        SampleStream::sampleAt(testcard::kCardSignals, 1, 1), SampleStream::sampleAt(testcard::kCardSignals, 0, 2),
        SampleStream::sampleAt(testcard::kCardSignals, 1, 2), SampleStream::sampleAt(testcard::kCardSignals, 0, 3)};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(out[2 * i] | out[2 * i + 1] << 8, expected[i]) << i;
}

TEST(SampleRangesTest, BeforeAnyStartTheStreamIsChannelZero) {
    SampleLedger ledger;
    SampleStream stream;
    stream.setSignals(testcard::kCardSignals, {});
    std::vector<uint8_t> model(64), filled(64);
    stream.read(model.data(), 64);
    ledger.reserve(64).fill(filled.data());
    EXPECT_EQ(filled, model);
}

} // namespace
} // namespace kvd::testing
