// The stream library against the card library's blocking reads on the same
// unpaced virtual card (waveforms, no request listing), 4 channels at the
// card's fastest 10 million samples a second: the samples a second that
// KVD4093_ReadStream hands a program, and those a loop of
// KVD4093_ReadDeviceAD gets, in blocks of the size the stream reads (about
// 50 ms, within 1 MiB). The stream should deliver 0.95 of the loop or more.
#include <vector>

#include <benchmark/benchmark.h>

#include "KVD4093.h"
#include "KVD4093_stream.h"
#include "stream_reads.h"
#include "platform/virtual/virtual_card.h"

namespace {

namespace vcard = kvd::vcard;

constexpr int32_t kLastChannel = 3;
constexpr uint32_t kChannels = kLastChannel + 1;
constexpr double kScanRate = 10000000.0 / kChannels;

void installCard() {
    vcard::Behaviour behaviour;
    behaviour.signals = vcard::Signals::Waveforms;
    behaviour.recording = false;
    vcard::install({7}, behaviour);
}

KVD4093_STREAM_CONFIG streamConfig() {
    KVD4093_STREAM_CONFIG config{};
    config.cards = "0";
    config.lastChannel = kLastChannel;
    config.scanRate = kScanRate;
    return config;
}

// The stream's block: what both loops ask for at a time.
uint32_t blockScans() {
    installCard();
    const KVD4093_STREAM_CONFIG config = streamConfig();
    KVD4093_STREAM *stream = KVD4093_OpenStream(&config);
    KVD4093_STREAM_BUFFER buffer{};
    KVD4093_GetStreamBuffer(stream, &buffer);
    KVD4093_CloseStream(stream);
    vcard::uninstall();
    return buffer.blockScans;
}

void BM_BlockingReads(benchmark::State &state) {
    const uint32_t samplesARead = blockScans() * kChannels;
    installCard();
    KVD4093_HANDLE card = KVD4093_CreateDevice(0);
    const ADPara para = {0, 0, 0, kLastChannel, 10000000, 0, 1000, 1, 0, 0, 0, 0, 0, 10, 0, 0, 0};
    if (!KVD4093_InitDeviceAD(card, &para)) {
        state.SkipWithError("KVD4093_InitDeviceAD failed");
        return;
    }
    std::vector<uint16_t> samples(samplesARead);
    for (auto _ : state) {
        for (uint32_t held = 0, got = 0; held < samplesARead; held += got) {
            if (!KVD4093_ReadDeviceAD(card, samples.data() + held, samplesARead - held, &got)) {
                state.SkipWithError("KVD4093_ReadDeviceAD failed");
                break;
            }
        }
        benchmark::DoNotOptimize(samples.data());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * samplesARead);
    KVD4093_ReleaseDeviceAD(card);
    KVD4093_ReleaseDevice(card);
    vcard::uninstall();
}

void BM_ReadStream(benchmark::State &state) {
    const uint32_t scansARead = blockScans();
    installCard();
    const KVD4093_STREAM_CONFIG config = streamConfig();
    KVD4093_STREAM *stream = KVD4093_OpenStream(&config);
    if (stream == nullptr || !KVD4093_StartStream(stream)) {
        state.SkipWithError(KVD4093_GetStreamError(stream));
        return;
    }
    readStreamBlocks(state, stream, scansARead);
    KVD4093_CloseStream(stream);
    vcard::uninstall();
}

BENCHMARK(BM_BlockingReads)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_ReadStream)->UseRealTime()->MinTime(2.0);

} // namespace
