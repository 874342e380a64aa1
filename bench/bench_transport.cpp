// The cost the library adds to a driver request: a 512-byte BulkWrite through
// the export against the same request made straight on the virtual backend.
// The allocation counter shows that neither path touches the heap.
#include <atomic>
#include <cstdlib>
#include <new>

#include <benchmark/benchmark.h>

#include "KVD4093.h"
#include "device/device_object.h"
#include "device/transport.h"
#include "platform/driver_protocol.h"
#include "platform/virtual/virtual_card.h"

namespace {

std::atomic<long> g_allocations{0};

struct Card {
    Card() {
        kvd::vcard::install({7});
        uint32_t status = 0;
        kvd::device::openDriver(0, &status, &driver);
        handle = kvd::device::createDeviceObject(driver);
    }
    kvd::device::DriverFile driver;
    KVD4093_HANDLE handle = nullptr;
};

Card &card() {
    static Card instance;
    return instance;
}

void reportAllocations(benchmark::State &state, long before) {
    state.counters["allocs/call"] =
        benchmark::Counter(double(g_allocations.load() - before) / double(state.iterations()));
}

void BM_BulkWriteThroughLibrary(benchmark::State &state) {
    KVD4093_HANDLE handle = card().handle;
    uint8_t packet[512] = {0x03, 0xff, 0xff};
    uint32_t written = 0;
    kvd::vcard::card(0).clearRequests();
    const long before = g_allocations.load();
    for (auto _ : state)
        benchmark::DoNotOptimize(BulkWrite(handle, 1, packet, 512, &written));
    reportAllocations(state, before);
}

void BM_BulkWriteStraightOnBackend(benchmark::State &state) {
    kvd::device::DriverFile &driver = card().driver;
    uint8_t packet[512] = {0x03, 0xff, 0xff};
    uint8_t pipe[4] = {1, 0, 0, 0};
    uint32_t written = 0;
    kvd::vcard::card(0).clearRequests();
    const long before = g_allocations.load();
    for (auto _ : state)
        benchmark::DoNotOptimize(driver.backend->request(driver.file, kvd::protocol::kBulkWrite, pipe, 4, packet,
                                                         512, &written));
    reportAllocations(state, before);
}

BENCHMARK(BM_BulkWriteThroughLibrary);
BENCHMARK(BM_BulkWriteStraightOnBackend);

} // namespace

void *operator new(std::size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void *p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
void operator delete(void *p) noexcept { std::free(p); }
void operator delete(void *p, std::size_t) noexcept { std::free(p); }
