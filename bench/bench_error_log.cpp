// The error log's cost on a failing path (one append) and for a caller's
// lookup in a full log: a name never logged and a name only the oldest entry
// carries both walk all 1024 strings.
#include <benchmark/benchmark.h>

#include <string>

#include "core/error_log.h"
#include "core/messages.h"

namespace {

constexpr int kFullLogEntries = 256;

void fillLog(kvd::ErrorLog &log) {
    log.logError(1, "KVD4093_Oldest", kvd::text::kSetRangeFailed);
    for (int i = 1; i < kFullLogEntries; ++i)
        log.logError(i % 2 + 1, i % 2 ? "KVD4093_InitDeviceAD" : "KVD4093_ReadDeviceAD", kvd::text::kStartAdFailed);
}

void BM_LogError(benchmark::State &state) {
    kvd::ErrorLog log;
    for (auto _ : state)
        benchmark::DoNotOptimize(log.logError(1, "KVD4093_InitDeviceAD", kvd::text::kStartAdFailed));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LogError);

void lookupInFullLog(benchmark::State &state, const char *name) {
    kvd::ErrorLog log;
    fillLog(log);
    char answer[256];
    for (auto _ : state) {
        log.lookup(name, answer);
        benchmark::DoNotOptimize(answer);
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_LookupAbsent(benchmark::State &state) { lookupInFullLog(state, "KVD4093_ReleaseDeviceAD"); }
BENCHMARK(BM_LookupAbsent);

void BM_LookupOldest(benchmark::State &state) { lookupInFullLog(state, "KVD4093_Oldest"); }
BENCHMARK(BM_LookupOldest);

} // namespace
