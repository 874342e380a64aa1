// The stream library's tests: streams opened through its C interface on
// virtual cards put in place in this process (the card library's core is
// linked statically beside the stream library's code), and the samples a
// virtual card gives at each index.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "KVD4093_stream.h"
#include "card_model/sample_stream.h"
#include "platform/virtual/virtual_card.h"

namespace kvd::testing {

// A stream's scans as a program collects them: the samples, and each
// stretch handed out with where it belongs.
struct Collected {
    std::vector<uint16_t> samples;
    std::vector<KVD4093_STREAM_BLOCK> blocks; // one per read that copied scans
    std::vector<uint32_t> scans;              // the scans of each read
    int64_t total() const;
};

class StreamTest : public ::testing::Test {
protected:
    // Card 7 at logical number 0, delivering at once unless paced.
    void SetUp() override;
    void TearDown() override;
    void installCard(bool paced, vcard::Signals signals = vcard::Signals::Waveforms);

    // A configuration of card "0": channels, scans a second, the rest 0.
    static KVD4093_STREAM_CONFIG config(int32_t first, int32_t last, double scanRate, int64_t scans = 0);
    // Opens and starts; fails the test when either fails.
    KVD4093_STREAM *started(const KVD4093_STREAM_CONFIG &config);
    // Reads until the stream ends (-1), `maxScans` at a time.
    static Collected readToEnd(KVD4093_STREAM *stream, uint32_t maxScans);

    // The virtual card's sample of stream scan `scan` at channel offset `i`:
    // scan 0 is the first whole scan after the set-up's 512 samples.
    static uint16_t cardSample(vcard::Signals signals, const KVD4093_STREAM_CONFIG &config, uint64_t scan, uint32_t i);

    std::vector<KVD4093_STREAM *> streams_; // closed at tear-down
};

} // namespace kvd::testing
