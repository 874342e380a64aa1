// AD reads through KVD4093_ReadDeviceAD beside memcpy, for blocks of 512 to
// 16 Mi samples, each in two destination patterns: fresh memory (consecutive
// blocks of a large region touched beforehand, as an acquisition fills a
// long buffer) and one reused buffer (as a loop that processes each block
// in place). The memcpy rows copy from a source as large as the card's own,
// one period of its counting pattern (4096 scans of 4 channels, 32 KiB).
// Every block is checked outside the timed loop. Then the DA, DO and DI calls
// beside the same requests made straight on the virtual backend.
#include <cstring>
#include <vector>

#include <benchmark/benchmark.h>

#include "card_model/driver_protocol.h"
#include "virtual_card_fixture.h"

namespace {

namespace protocol = kvd::protocol;

constexpr uint32_t kChannels = 4;
constexpr uint32_t kPeriodSamples = 4096 * kChannels;
constexpr size_t kRegionSamples = size_t(128) << 20; // 256 MiB

// The sample at a position of the counting pattern of channels 0 to 3.
uint16_t patternAt(uint64_t position) {
    const auto channel = static_cast<uint16_t>(position % kChannels);
    const auto scan = static_cast<uint16_t>((position / kChannels) & 0x0FFF);
    return static_cast<uint16_t>(channel << 12 | scan);
}

// True when a block continues the pattern from its first sample on.
bool followsPattern(const uint16_t *block, size_t count) {
    const uint64_t first = uint64_t(block[0] & 0x0FFF) * kChannels + (block[0] >> 12);
    for (size_t i = 0; i < count; ++i)
        if (block[i] != patternAt(first + i))
            return false;
    return true;
}

const std::vector<uint16_t> &period() {
    static const std::vector<uint16_t> samples = [] {
        std::vector<uint16_t> made(kPeriodSamples);
        for (uint32_t i = 0; i < kPeriodSamples; ++i)
            made[i] = patternAt(i);
        return made;
    }();
    return samples;
}

// A large region, every page touched once before any benchmark runs, shared
// by the fresh-memory rows.
std::vector<uint16_t> g_region(kRegionSamples, 1);
uint16_t *region() { return g_region.data(); }

// Where the next block goes: consecutive blocks of the region, or one buffer.
class Destination {
public:
    Destination(bool fresh, size_t block) : fresh_(fresh), block_(block), reused_(fresh ? 0 : block) {}
    uint16_t *next() {
        if (!fresh_)
            return reused_.data();
        if (offset_ + block_ > kRegionSamples)
            offset_ = 0;
        last_ = region() + offset_;
        offset_ += block_;
        return last_;
    }
    const uint16_t *last() const { return fresh_ ? last_ : reused_.data(); }

private:
    bool fresh_;
    size_t block_;
    std::vector<uint16_t> reused_;
    size_t offset_ = 0;
    uint16_t *last_ = nullptr;
};

KVD4093_HANDLE startedCard() {
    auto &card = kvd::bench::virtualCard();
    const ADPara para = {0, 0, 0, 3, 100000, 0, 1000, 1, 0, 0, 0, 0, 0, 10, 0, 0, 0};
    KVD4093_InitDeviceAD(card.handle, &para);
    return card.handle;
}

void readDeviceAD(benchmark::State &state, bool fresh) {
    KVD4093_HANDLE handle = startedCard();
    const auto block = static_cast<uint32_t>(state.range(0));
    Destination destination(fresh, block);
    uint32_t read = 0;
    bool allRead = true;
    for (auto _ : state) {
        allRead &= KVD4093_ReadDeviceAD(handle, destination.next(), block, &read) == 1 && read == block;
        benchmark::ClobberMemory();
    }
    if (!allRead || !followsPattern(destination.last(), block))
        state.SkipWithError("a read failed or delivered the wrong samples");
    state.SetItemsProcessed(int64_t(state.iterations()) * block);
    state.SetBytesProcessed(int64_t(state.iterations()) * block * 2);
}

// Copies a block out of the period, wrapping around it as the card does.
void copyFromPeriod(uint16_t *to, size_t count, size_t &at) {
    const uint16_t *from = period().data();
    while (count > 0) {
        const size_t part = std::min(count, size_t(kPeriodSamples) - at);
        std::memcpy(to, from + at, part * 2);
        to += part;
        count -= part;
        at = (at + part) % kPeriodSamples;
    }
}

void memcpyBlocks(benchmark::State &state, bool fresh) {
    const auto block = static_cast<size_t>(state.range(0));
    Destination destination(fresh, block);
    size_t at = 0;
    for (auto _ : state) {
        copyFromPeriod(destination.next(), block, at);
        benchmark::ClobberMemory();
    }
    if (!followsPattern(destination.last(), block))
        state.SkipWithError("memcpy delivered the wrong samples");
    state.SetItemsProcessed(int64_t(state.iterations()) * block);
    state.SetBytesProcessed(int64_t(state.iterations()) * block * 2);
}

void BM_ReadDeviceAD_Fresh(benchmark::State &state) { readDeviceAD(state, true); }
void BM_Memcpy_Fresh(benchmark::State &state) { memcpyBlocks(state, true); }
void BM_ReadDeviceAD_Reused(benchmark::State &state) { readDeviceAD(state, false); }
void BM_Memcpy_Reused(benchmark::State &state) { memcpyBlocks(state, false); }

void blockSizes(benchmark::internal::Benchmark *benchmark) {
    for (int64_t samples : {512, 4096, 65536, 1 << 20, 16 << 20})
        benchmark->Arg(samples);
}

BENCHMARK(BM_ReadDeviceAD_Fresh)->Apply(blockSizes);
BENCHMARK(BM_Memcpy_Fresh)->Apply(blockSizes);
BENCHMARK(BM_ReadDeviceAD_Reused)->Apply(blockSizes);
BENCHMARK(BM_Memcpy_Reused)->Apply(blockSizes);

void BM_WriteDeviceDA(benchmark::State &state) {
    KVD4093_HANDLE handle = kvd::bench::virtualCard().handle;
    for (auto _ : state)
        benchmark::DoNotOptimize(KVD4093_WriteDeviceDA(handle, 4, 0xABC, 2));
}

void BM_WriteDeviceDA_Backend(benchmark::State &state) {
    auto &card = kvd::bench::virtualCard();
    for (auto _ : state) {
        uint8_t setup[512] = {1, 4, 0, 0x0A};
        card.request(protocol::kBulkWrite, 1, setup, 512);
        uint8_t value[512] = {1, 0xC0, 0xAB, 2};
        benchmark::DoNotOptimize(card.request(protocol::kBulkWrite, 1, value, 512));
    }
}

void BM_SetDeviceDO(benchmark::State &state) {
    KVD4093_HANDLE handle = kvd::bench::virtualCard().handle;
    const uint8_t states[16] = {1, 0, 1, 0, 0, 1, 0, 1, 0, 0, 1, 1, 1, 1, 0, 0};
    for (auto _ : state)
        benchmark::DoNotOptimize(KVD4093_SetDeviceDO(handle, states));
}

void BM_SetDeviceDO_Backend(benchmark::State &state) {
    auto &card = kvd::bench::virtualCard();
    for (auto _ : state) {
        uint8_t packet[512] = {3, 0xA5, 0x3C};
        benchmark::DoNotOptimize(card.request(protocol::kBulkWrite, 1, packet, 512));
    }
}

void BM_GetDeviceDI(benchmark::State &state) {
    KVD4093_HANDLE handle = kvd::bench::virtualCard().handle;
    uint8_t states[16];
    for (auto _ : state)
        benchmark::DoNotOptimize(KVD4093_GetDeviceDI(handle, states));
}

void BM_GetDeviceDI_Backend(benchmark::State &state) {
    auto &card = kvd::bench::virtualCard();
    uint8_t status[512];
    for (auto _ : state)
        benchmark::DoNotOptimize(card.request(protocol::kBulkRead, 3, status, 512));
}

BENCHMARK(BM_WriteDeviceDA);
BENCHMARK(BM_WriteDeviceDA_Backend);
BENCHMARK(BM_SetDeviceDO);
BENCHMARK(BM_SetDeviceDO_Backend);
BENCHMARK(BM_GetDeviceDI);
BENCHMARK(BM_GetDeviceDI_Backend);

} // namespace
