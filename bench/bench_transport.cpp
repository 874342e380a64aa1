// The cost the library adds to a driver request: a 512-byte BulkWrite through
// the export against the same request made straight on the virtual backend.
// The allocation counter (malloc and new) shows that neither path touches the heap.
#include <benchmark/benchmark.h>

#include "allocation_counter.h"
#include "card_model/driver_protocol.h"
#include "virtual_card_fixture.h"

namespace {

using kvd::bench::g_allocations;
using kvd::bench::reportAllocations;

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
