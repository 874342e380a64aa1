// The cost the library adds to a driver request: a 512-byte BulkWrite through
// the export against the same request made straight on the virtual backend.
// The allocation counter shows that the library's path touches no heap.
#include <atomic>
#include <cstdlib>
#include <new>

#include <benchmark/benchmark.h>

#include "platform/driver_protocol.h"
#include "virtual_card_fixture.h"

namespace {

std::atomic<long> g_allocations{0};

void reportAllocations(benchmark::State &state, long before) {
    state.counters["allocs/call"] =
        benchmark::Counter(double(g_allocations.load() - before) / double(state.iterations()));
}

void BM_BulkWriteThroughLibrary(benchmark::State &state) {
    KVD4093_HANDLE handle = kvd::bench::virtualCard().handle;
    uint8_t packet[512] = {0x03, 0xff, 0xff};
    uint32_t written = 0;
    const long before = g_allocations.load();
    for (auto _ : state)
        benchmark::DoNotOptimize(BulkWrite(handle, 1, packet, 512, &written));
    reportAllocations(state, before);
}

void BM_BulkWriteStraightOnBackend(benchmark::State &state) {
    auto &card = kvd::bench::virtualCard();
    uint8_t packet[512] = {0x03, 0xff, 0xff};
    const long before = g_allocations.load();
    for (auto _ : state)
        benchmark::DoNotOptimize(card.request(kvd::protocol::kBulkWrite, 1, packet, 512));
    reportAllocations(state, before);
}

BENCHMARK(BM_BulkWriteThroughLibrary);
BENCHMARK(BM_BulkWriteStraightOnBackend);

} // namespace

// The replacements pair malloc with free themselves; the compiler cannot see
// that through inlined new-expressions.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

void *operator new(std::size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void *p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
void operator delete(void *p) noexcept { std::free(p); }
void operator delete(void *p, std::size_t) noexcept { std::free(p); }
