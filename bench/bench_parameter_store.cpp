// The parameter store's cost for a whole record: KVD4093_SaveParaAD (21
// values in two read-modify-write changes of the settings file, each flushed
// to the disk and renamed into place) followed by KVD4093_LoadParaAD (one
// read of the file for all 17 values), the two apart, and a load from a file
// at the store's limits. The settings live in a fresh folder below TMPDIR
// (or /tmp), so the figures are those of that folder's file system: the
// flush to the disk is most of a save.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "KVD4093.h"

namespace {

namespace fs = std::filesystem;

// Points XDG_CONFIG_HOME at a fresh folder while it lives.
class ScratchSettings {
public:
    ScratchSettings() {
        std::string pattern = (fs::temp_directory_path() / "kvd4093-bench-XXXXXX").string();
        folder_ = mkdtemp(pattern.data());
        setenv("XDG_CONFIG_HOME", folder_.c_str(), 1);
    }
    ~ScratchSettings() {
        unsetenv("XDG_CONFIG_HOME");
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }

private:
    std::string folder_;
};

ADPara record(int32_t seed) {
    ADPara para{};
    int32_t *field = &para.CheckStsMode;
    for (int32_t i = 0; i < 17; ++i)
        field[i] = seed + i;
    return para;
}

void BM_SaveThenLoadParaAD(benchmark::State &state) {
    ScratchSettings settings;
    int32_t seed = 0;
    for (auto _ : state) {
        const ADPara saved = record(++seed);
        ADPara loaded;
        benchmark::DoNotOptimize(KVD4093_SaveParaAD(nullptr, &saved));
        benchmark::DoNotOptimize(KVD4093_LoadParaAD(nullptr, &loaded));
        benchmark::DoNotOptimize(loaded);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SaveThenLoadParaAD)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SaveParaAD(benchmark::State &state) {
    ScratchSettings settings;
    int32_t seed = 0;
    for (auto _ : state) {
        const ADPara saved = record(++seed);
        benchmark::DoNotOptimize(KVD4093_SaveParaAD(nullptr, &saved));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SaveParaAD)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_LoadParaAD(benchmark::State &state) {
    ScratchSettings settings;
    const ADPara saved = record(1);
    KVD4093_SaveParaAD(nullptr, &saved);
    for (auto _ : state) {
        ADPara loaded;
        benchmark::DoNotOptimize(KVD4093_LoadParaAD(nullptr, &loaded));
        benchmark::DoNotOptimize(loaded);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LoadParaAD)->Unit(benchmark::kMicrosecond);

// A settings file at the store's limits: the saved record, then keys nested
// 512 deep, each on a path of its own, until the file holds 1 MiB (about 980
// keys). Every key line names its whole path, so reading the file as a tree
// would build half a million keys.
void BM_LoadParaAD_DeepKeysFile(benchmark::State &state) {
    ScratchSettings settings;
    const ADPara saved = record(1);
    KVD4093_SaveParaAD(nullptr, &saved);
    const fs::path file = fs::path(std::getenv("XDG_CONFIG_HOME")) / "Olm" / "KVD4093.reg";
    std::string deep;
    for (int level = 1; level < 512; ++level)
        deep += "\\x";
    {
        std::ofstream out(file, std::ios::binary | std::ios::app);
        for (int key = 0; fs::file_size(file) + deep.size() + 64 < (size_t(1) << 20); ++key)
            out << "[HKEY_CURRENT_USER\\Software\\Olm\\KVD4093\\k" << key << deep << "]\r\n\r\n" << std::flush;
    }
    for (auto _ : state) {
        ADPara loaded;
        benchmark::DoNotOptimize(KVD4093_LoadParaAD(nullptr, &loaded));
        if (std::memcmp(&loaded, &saved, sizeof saved) != 0)
            state.SkipWithError("the record did not load");
    }
    state.counters["file_bytes"] = double(fs::file_size(file));
}
BENCHMARK(BM_LoadParaAD_DeepKeysFile)->Unit(benchmark::kMillisecond);

} // namespace
