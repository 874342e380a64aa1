// Each output format's writer as the tool runs it for an unpaced
// acquisition: 4 channels in the tool's largest blocks (512 Ki samples), a
// whole file each iteration (begin, the blocks, finish: for .sr the archive,
// for .npy and .wav the header written again), into a temporary folder;
// items are samples. The aim is 50 million samples a second, 25 million for
// CSV and sigrok sessions, whose values are text or floats; csv_scaled is CSV
// of values on a scale.
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

#include <benchmark/benchmark.h>

#include "output/formats.h"
#include "output/scale.h"

namespace {

namespace fs = std::filesystem;
using kvd::tool::AcquisitionInfo;
using kvd::tool::AcquisitionOutcome;

constexpr uint32_t kChannels = 4;
constexpr size_t kBlockScans = (1u << 19) / kChannels; // the tool's largest block
constexpr int kBlocks = 16;                            // 8 Mi samples a file

std::vector<uint16_t> waveform() {
    std::vector<uint16_t> samples(kBlockScans * kChannels);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<uint16_t>(i * 7919 % 65536);
    return samples;
}

AcquisitionInfo acquisitionInfo(bool scaled) {
    AcquisitionInfo info;
    info.para.FirstChannel = 0;
    info.para.LastChannel = kChannels - 1;
    info.para.Frequency = 10000000;
    info.sampleRate = 10000000;
    info.plannedScans = kBlockScans * kBlocks;
    info.startTime = "2026-01-01T00:00:00.000Z";
    if (scaled)
        info.scale = kvd::tool::parseScale("0.000305175781,-10,V");
    return info;
}

class Folder {
public:
    Folder() : path_(fs::temp_directory_path() / ("kvd4093-bench-" + std::to_string(::getpid()))) {
        fs::create_directories(path_);
    }
    ~Folder() { fs::remove_all(path_); }
    std::string file(const std::string &name) const { return (path_ / name).string(); }

private:
    fs::path path_;
};

void BM_Writer(benchmark::State &state, const std::string &format, bool scaled) {
    const auto &formats = kvd::tool::outputFormats();
    const auto chosen = std::find_if(formats.begin(), formats.end(), [&](const auto &f) { return f.name == format; });
    if (chosen == formats.end() || chosen->open == nullptr) {
        state.SkipWithError("format not in this build");
        return;
    }
    const std::vector<uint16_t> samples = waveform();
    const AcquisitionInfo info = acquisitionInfo(scaled);
    const Folder folder;
    const std::string path = folder.file("run" + std::string(chosen->extension));
    AcquisitionOutcome outcome;
    outcome.scans = info.plannedScans;
    for (auto _ : state) {
        auto sink = kvd::tool::openFormat(*chosen, path);
        sink->begin(info);
        for (int block = 0; block < kBlocks; ++block)
            sink->write(samples.data(), uint64_t(block) * kBlockScans, kBlockScans);
        sink->finish(outcome);
        sink.reset();
        state.PauseTiming();
        fs::remove(path);
        fs::remove(path + ".json");
        state.ResumeTiming();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(samples.size()) * kBlocks);
}

BENCHMARK_CAPTURE(BM_Writer, csv, std::string("csv"), false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Writer, csv_scaled, std::string("csv"), true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Writer, bin, std::string("bin"), false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Writer, sr, std::string("sr"), false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Writer, h5, std::string("h5"), false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Writer, npy, std::string("npy"), false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Writer, wav, std::string("wav"), false)->Unit(benchmark::kMillisecond);

} // namespace
