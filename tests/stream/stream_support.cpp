#include "stream/stream_support.h"

#include "platform/platform.h"

namespace kvd::testing {
namespace {

void ignoreMessage(void *, const char *, const char *, uint32_t) {}

} // namespace

int64_t Collected::total() const {
    int64_t sum = 0;
    for (const uint32_t n : scans)
        sum += n;
    return sum;
}

void StreamTest::SetUp() {
    // A card library message box would wait for a person.
    platform::setMessageCapture(&ignoreMessage, nullptr);
    installCard(false);
}

void StreamTest::TearDown() {
    for (KVD4093_STREAM *stream : streams_)
        KVD4093_CloseStream(stream);
    vcard::uninstall();
    platform::setMessageCapture(nullptr, nullptr);
}

void StreamTest::installCard(bool paced, vcard::Signals signals) {
    vcard::Behaviour behaviour;
    behaviour.paced = paced;
    behaviour.signals = signals;
    behaviour.recording = false;
    behaviour.memorySamples = 0;
    vcard::install({7}, behaviour);
}

KVD4093_STREAM_CONFIG StreamTest::config(int32_t first, int32_t last, double scanRate, int64_t scans) {
    KVD4093_STREAM_CONFIG config{};
    config.cards = "0";
    config.firstChannel = first;
    config.lastChannel = last;
    config.scanRate = scanRate;
    config.scans = scans;
    return config;
}

KVD4093_STREAM *StreamTest::started(const KVD4093_STREAM_CONFIG &config) {
    KVD4093_STREAM *stream = KVD4093_OpenStream(&config);
    EXPECT_NE(stream, nullptr) << KVD4093_GetStreamError(nullptr);
    if (stream == nullptr)
        return nullptr;
    streams_.push_back(stream);
    EXPECT_EQ(KVD4093_StartStream(stream), 1) << KVD4093_GetStreamError(stream);
    return stream;
}

Collected StreamTest::readToEnd(KVD4093_STREAM *stream, uint32_t maxScans) {
    Collected collected;
    const auto channels = size_t(KVD4093_GetStreamChannels(stream));
    std::vector<uint16_t> buffer(size_t(maxScans) * channels);
    for (;;) {
        KVD4093_STREAM_BLOCK block{};
        const int64_t scans = KVD4093_ReadStream(stream, buffer.data(), maxScans, 10000, &block);
        if (scans < 0)
            return collected;
        EXPECT_GT(scans, 0) << "a read of a running stream on an unpaced card timed out";
        if (scans == 0)
            return collected;
        collected.samples.insert(collected.samples.end(), buffer.begin(), buffer.begin() + scans * int64_t(channels));
        collected.blocks.push_back(block);
        collected.scans.push_back(uint32_t(scans));
    }
}

uint16_t StreamTest::cardSample(vcard::Signals signals, const KVD4093_STREAM_CONFIG &config, uint64_t scan,
                                uint32_t i) {
    const auto channels = uint64_t(config.lastChannel - config.firstChannel + 1);
    const uint64_t setUpScans = (512 + channels - 1) / channels;
    return vcard::SampleStream::sampleAt(signals, uint32_t(config.firstChannel) + i, setUpScans + scan);
}

} // namespace kvd::testing
