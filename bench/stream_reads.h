// The loop the stream benchmarks time: take one block's scans at a time from
// a running stream, as a program keeping up with it would, and count the
// samples and the scans the stream lost meanwhile.
#pragma once

#include <cstdint>
#include <vector>

#include <benchmark/benchmark.h>

#include "KVD4093_stream.h"

inline void readStreamBlocks(benchmark::State &state, KVD4093_STREAM *stream, uint32_t scansARead) {
    const auto channels = uint32_t(KVD4093_GetStreamChannels(stream));
    std::vector<uint16_t> samples(size_t(scansARead) * channels);
    int64_t scans = 0;
    for (auto _ : state) {
        for (int64_t held = 0, got = 0; held < scansARead; held += got) {
            got = KVD4093_ReadStream(stream, samples.data() + size_t(held) * channels, uint32_t(scansARead - held), -1,
                                     nullptr);
            if (got <= 0) {
                state.SkipWithError(KVD4093_GetStreamError(stream));
                break;
            }
        }
        scans += scansARead;
        benchmark::DoNotOptimize(samples.data());
    }
    KVD4093_STREAM_STATUS status{};
    KVD4093_GetStreamStatus(stream, &status);
    state.counters["scans_lost"] = double(status.scansLost);
    state.SetItemsProcessed(scans * channels);
}
