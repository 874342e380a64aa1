// The panel's chart frames at 1 MS/s on 4 channels: one iteration is one
// second of signal, written in the acquisition's 50 ms blocks of 12500 scans
// and taken as frames 30 times a second, as the panel's card thread does.
// The time of an iteration is the share of one core the reduction costs
// (10 % of a core is 100 ms an iteration); frame_bytes_max is the largest
// frame. The WebSocket's cost is in bench/panel_cpu.py, measured on the
// running tool.
#include <algorithm>
#include <vector>

#include <benchmark/benchmark.h>

#include "panel/chart_frames.h"

namespace {

using namespace kvd::tool::panel;

constexpr uint32_t kChannels = 4;
constexpr double kSampleRate = 1000000;
constexpr size_t kBlockScans = 12500; // 50 ms at 250000 scans a second
constexpr size_t kBlocksASecond = 20;
constexpr size_t kFramesASecond = 30;

void BM_ChartFramesOneSecondAt1MSps(benchmark::State &state) {
    const double viewSeconds = double(state.range(0)) / 1000;
    kvd::tool::AcquisitionInfo info;
    info.para.FirstChannel = 0;
    info.para.LastChannel = kChannels - 1;
    info.sampleRate = kSampleRate;
    ChartFrames frames(1, viewSeconds);
    frames.begin(info);
    std::vector<uint16_t> block(kBlockScans * kChannels);
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<uint16_t>(i * 7919 % 65536);
    std::vector<uint8_t> frame;
    size_t largest = 0;
    uint64_t scan = 0;
    for (auto _ : state) {
        size_t taken = 0;
        for (size_t b = 0; b < kBlocksASecond; ++b) {
            frames.write(block.data(), scan, kBlockScans);
            scan += kBlockScans;
            // The frames due by the end of this block.
            for (; taken < (b + 1) * kFramesASecond / kBlocksASecond; ++taken)
                if (frames.takeFrame(frame))
                    largest = std::max(largest, frame.size());
        }
        benchmark::DoNotOptimize(frame.data());
    }
    state.counters["frame_bytes_max"] = double(largest);
    state.counters["scans_per_column"] = frames.scansPerColumn();
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(kSampleRate));
}
// View windows of 10 ms, 100 ms, 1 s and 10 s.
BENCHMARK(BM_ChartFramesOneSecondAt1MSps)->Arg(10)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

} // namespace
