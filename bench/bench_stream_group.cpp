// A group of 4 unpaced virtual cards x 4 channels through the stream library
// against one such card alone: the samples a second KVD4093_ReadStream hands
// a program. Each card of a group has its reader thread and the merger one
// more, so on a machine that runs C threads at once the group should deliver
// 0.9 of one card's samples a second times min(C, 4) or more (2 cores: 1.8).
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "KVD4093_stream.h"
#include "stream_reads.h"
#include "platform/virtual/virtual_card.h"

namespace {

namespace vcard = kvd::vcard;

constexpr int32_t kLastChannel = 3;
constexpr uint32_t kChannels = kLastChannel + 1;
constexpr double kScanRate = 10000000.0 / kChannels;

void readStream(benchmark::State &state, const char *cards, int32_t clockMode) {
    vcard::Behaviour behaviour;
    behaviour.signals = vcard::Signals::Waveforms;
    behaviour.recording = false;
    vcard::install({7, 9, 5, 3}, behaviour);
    KVD4093_STREAM_CONFIG config{};
    config.cards = cards;
    config.lastChannel = kLastChannel;
    config.scanRate = kScanRate;
    config.clockMode = clockMode;
    KVD4093_STREAM *stream = KVD4093_OpenStream(&config);
    if (stream == nullptr || !KVD4093_StartStream(stream)) {
        state.SkipWithError(KVD4093_GetStreamError(stream));
        KVD4093_CloseStream(stream);
        vcard::uninstall();
        return;
    }
    KVD4093_STREAM_BUFFER buffer{};
    KVD4093_GetStreamBuffer(stream, &buffer);
    const uint32_t scansARead = buffer.blockScans;
    readStreamBlocks(state, stream, scansARead);
    KVD4093_CloseStream(stream);
    vcard::uninstall();
}

void BM_OneCard(benchmark::State &state) { readStream(state, "0", KVD4093_STREAM_CLOCK_SHARED); }
// The first card drives the others' clock: an unpaced card ticks once per scan read.
void BM_GroupOf4(benchmark::State &state) { readStream(state, "0,1,2,3", KVD4093_STREAM_CLOCK_SHARED); }
// Every card on its own clock: the merging alone, without the clock line's waits.
void BM_GroupOf4Independent(benchmark::State &state) {
    readStream(state, "0,1,2,3", KVD4093_STREAM_CLOCK_INDEPENDENT);
}

BENCHMARK(BM_OneCard)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_GroupOf4)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_GroupOf4Independent)->UseRealTime()->MinTime(2.0);

} // namespace
