// What a stream hands out: the samples the blocking reads give, scan after
// scan, ending after exactly the scans planned; the callback's view of the
// same scans; and a consumer slower than the card, which either ends the
// stream with everything read still readable or gets gaps that say exactly
// which scans were dropped.
#include <chrono>
#include <thread>

#include "stream/stream_support.h"

namespace kvd::testing {
namespace {

using std::chrono::milliseconds;

// The same card and record read with the card library's blocking calls:
// the set-up's samples, the rest of the partial scan, then `scans` scans.
std::vector<uint16_t> blockingScans(const ADPara &record, int64_t scans) {
    KVD4093_HANDLE card = KVD4093_CreateDevice(0);
    EXPECT_NE(card, KVD4093_INVALID_HANDLE);
    EXPECT_TRUE(KVD4093_InitDeviceAD(card, &record));
    const auto channels = uint32_t(record.LastChannel - record.FirstChannel + 1);
    std::vector<uint16_t> partial(channels);
    uint32_t got = 0;
    if (const uint32_t skip = (channels - 512 % channels) % channels; skip > 0) {
        EXPECT_TRUE(KVD4093_ReadDeviceAD(card, partial.data(), skip, &got));
    }
    std::vector<uint16_t> samples(size_t(scans) * channels);
    for (size_t held = 0; held < samples.size(); held += got)
        EXPECT_TRUE(KVD4093_ReadDeviceAD(card, samples.data() + held, uint32_t(samples.size() - held), &got));
    KVD4093_ReleaseDeviceAD(card);
    KVD4093_ReleaseDevice(card);
    return samples;
}

struct SameSamplesCase {
    int32_t first, last;
    double scanRate;
    int64_t scans;
    uint32_t maxScans; // what each read asks for
};

class StreamSamplesTest : public StreamTest, public ::testing::WithParamInterface<SameSamplesCase> {};

// Reads that take less than a block, several blocks, a partial scan skipped
// (3 and 5 channels do not divide 512), a plan shorter than one block.
INSTANTIATE_TEST_SUITE_P(Shapes, StreamSamplesTest,
                         ::testing::Values(SameSamplesCase{0, 1, 20000, 30000, 777},
                                           SameSamplesCase{0, 2, 10000, 12345, 5000},
                                           SameSamplesCase{3, 7, 4000, 9001, 100000},
                                           SameSamplesCase{0, 0, 100000, 7, 3}),
                         [](const auto &info) {
                             const SameSamplesCase &c = info.param;
                             return "Channels" + std::to_string(c.first) + "To" + std::to_string(c.last) + "Scans" +
                                    std::to_string(c.scans) + "By" + std::to_string(c.maxScans);
                         });

TEST_P(StreamSamplesTest, EqualTheBlockingReadsAndEndAfterThePlannedScans) {
    const SameSamplesCase c = GetParam();
    KVD4093_STREAM *stream = started(config(c.first, c.last, c.scanRate, c.scans));
    ASSERT_NE(stream, nullptr);
    const Collected collected = readToEnd(stream, c.maxScans);
    ASSERT_EQ(collected.total(), c.scans) << "exactly the planned scans, then -1";
    int64_t next = 0;
    for (size_t i = 0; i < collected.blocks.size(); ++i) {
        EXPECT_EQ(collected.blocks[i].firstScan, next);
        EXPECT_EQ(collected.blocks[i].scansLostBefore, 0);
        EXPECT_LE(collected.scans[i], c.maxScans);
        next += collected.scans[i];
    }
    uint16_t sample = 0;
    EXPECT_EQ(KVD4093_ReadStream(stream, &sample, 1, 0, nullptr), -1) << "ended stays ended";
    ADPara record{};
    ASSERT_EQ(KVD4093_GetStreamRecord(stream, &record), 1);
    EXPECT_EQ(record.Frequency, int32_t(c.scanRate * (c.last - c.first + 1)));
    KVD4093_CloseStream(stream);
    streams_.clear();
    EXPECT_EQ(collected.samples, blockingScans(record, c.scans));
}

// The callback, every `callbackScans` scans on the reader thread, sees the
// scans the reads see, in order, before them.
struct Seen {
    std::vector<uint16_t> samples;
    int64_t nextScan = 0;
    int calls = 0;
    bool inOrder = true;
    uint32_t largest = 0;
};

void KVD4093_CALL remember(KVD4093_STREAM *, const uint16_t *samples, uint32_t scans,
                           const KVD4093_STREAM_BLOCK *block, void *context) {
    auto *seen = static_cast<Seen *>(context);
    seen->inOrder = seen->inOrder && block->firstScan == seen->nextScan && block->scansLostBefore == 0;
    seen->samples.insert(seen->samples.end(), samples, samples + scans * 2);
    seen->nextScan += scans;
    seen->largest = std::max(seen->largest, scans);
    ++seen->calls;
}

TEST_F(StreamTest, TheCallbackSeesEveryScanInOrder) {
    Seen seen;
    KVD4093_STREAM_CONFIG c = config(0, 1, 20000, 25000);
    c.callbackScans = 1700; // not a divisor of the 1000-scan blocks
    c.callback = &remember;
    c.callbackContext = &seen;
    KVD4093_STREAM *stream = started(c);
    ASSERT_NE(stream, nullptr);
    const Collected collected = readToEnd(stream, 4096);
    EXPECT_TRUE(seen.inOrder);
    EXPECT_EQ(seen.nextScan, 25000);
    EXPECT_EQ(seen.calls, (25000 + 1699) / 1700) << "full calls, the last one shorter";
    EXPECT_EQ(seen.largest, 1700u);
    EXPECT_EQ(seen.samples, collected.samples);
}

// A consumer that takes nothing while the card fills the buffer.
void waitUntilEnded(KVD4093_STREAM *stream, KVD4093_STREAM_STATUS *status) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    do {
        std::this_thread::sleep_for(milliseconds(10));
        ASSERT_EQ(KVD4093_GetStreamStatus(stream, status), 1);
    } while (status->running && std::chrono::steady_clock::now() < until);
}

TEST_F(StreamTest, AFullBufferUnderStopEndsWithEveryBlockReadReadable) {
    KVD4093_STREAM_CONFIG c = config(0, 1, 50000);
    c.bufferSeconds = 0.2;
    KVD4093_STREAM *stream = started(c);
    ASSERT_NE(stream, nullptr);
    KVD4093_STREAM_STATUS status{};
    waitUntilEnded(stream, &status);
    EXPECT_EQ(status.running, 0);
    EXPECT_EQ(status.overrun, 1);
    EXPECT_EQ(status.failed, 0);
    EXPECT_EQ(status.scansLost, 0);
    EXPECT_EQ(status.scansQueued, status.scansRead);
    EXPECT_NE(std::string(KVD4093_GetStreamError(stream)).find("overrun"), std::string::npos);
    const Collected collected = readToEnd(stream, 3000);
    EXPECT_EQ(collected.total(), status.scansRead);
    EXPECT_GE(collected.total(), 10000) << "the whole buffer: 0.2 s of 50000 scans a second";
    for (size_t i = 0, scan = 0; i < collected.samples.size(); i += 2, ++scan)
        ASSERT_EQ(collected.samples[i + 1], cardSample(vcard::Signals::Waveforms, c, scan, 1)) << "scan " << scan;
}

TEST_F(StreamTest, AFullBufferUnderContinueLeavesGapsOfTheScansDropped) {
    constexpr int64_t kPlanned = 400000;
    KVD4093_STREAM_CONFIG c = config(0, 1, 100000, kPlanned);
    c.bufferSeconds = 0.1;
    c.onOverrun = KVD4093_STREAM_CONTINUE;
    KVD4093_STREAM *stream = started(c);
    ASSERT_NE(stream, nullptr);
    // Slower than the card: a pause, then reads with pauses between them.
    Collected collected;
    std::vector<uint16_t> buffer(2 * 3000);
    KVD4093_STREAM_BLOCK block{};
    for (int64_t scans; (scans = KVD4093_ReadStream(stream, buffer.data(), 3000, 10000, &block)) != -1;) {
        ASSERT_GT(scans, 0);
        collected.samples.insert(collected.samples.end(), buffer.begin(), buffer.begin() + 2 * scans);
        collected.blocks.push_back(block);
        collected.scans.push_back(uint32_t(scans));
        std::this_thread::sleep_for(milliseconds(collected.blocks.size() == 1 ? 400 : 5));
    }
    KVD4093_STREAM_STATUS status{};
    ASSERT_EQ(KVD4093_GetStreamStatus(stream, &status), 1);
    EXPECT_GT(status.scansLost, 0) << "the pauses dropped blocks";
    EXPECT_EQ(status.overrun, 0);
    const auto sampleAt = [&](int64_t scan, uint32_t i) {
        return cardSample(vcard::Signals::Waveforms, c, uint64_t(scan), i);
    };
    int64_t lost = 0, held = 0, next = 0;
    for (size_t i = 0; i < collected.blocks.size(); ++i) {
        const KVD4093_STREAM_BLOCK &read = collected.blocks[i];
        EXPECT_EQ(read.firstScan - read.scansLostBefore, next) << "a gap is exactly the scans skipped";
        EXPECT_EQ(read.gapCause, read.scansLostBefore > 0 ? KVD4093_STREAM_GAP_OVERRUN : KVD4093_STREAM_GAP_NONE);
        lost += read.scansLostBefore;
        // The neighbours of each gap are the card's scans at those indexes.
        if (read.scansLostBefore > 0 && held > 0) {
            for (uint32_t channel = 0; channel < 2; ++channel)
                EXPECT_EQ(collected.samples[size_t(held - 1) * 2 + channel], sampleAt(next - 1, channel));
        }
        for (uint32_t channel = 0; channel < 2; ++channel)
            EXPECT_EQ(collected.samples[size_t(held) * 2 + channel], sampleAt(read.firstScan, channel));
        held += collected.scans[i];
        next = read.firstScan + collected.scans[i];
    }
    EXPECT_EQ(held, status.scansRead);
    EXPECT_EQ(lost + (kPlanned - next), status.scansLost)
        << "the gaps and the scans dropped after the last block add up to the scans lost";
}

} // namespace
} // namespace kvd::testing
