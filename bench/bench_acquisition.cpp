// AD reads against memcpy of the same bytes, and the DA, DO and DI calls
// against the same requests made straight on the virtual backend.
#include <cstring>
#include <vector>

#include <benchmark/benchmark.h>

#include "platform/driver_protocol.h"
#include "virtual_card_fixture.h"

namespace {

namespace protocol = kvd::protocol;
constexpr uint32_t kSamples = 65536;

KVD4093_HANDLE startedCard() {
    auto &card = kvd::bench::virtualCard();
    const ADPara para = {0, 0, 0, 3, 100000, 0, 1000, 1, 0, 0, 0, 0, 0, 10, 0, 0, 0};
    KVD4093_InitDeviceAD(card.handle, &para);
    return card.handle;
}

void BM_ReadDeviceAD_65536(benchmark::State &state) {
    KVD4093_HANDLE handle = startedCard();
    std::vector<uint16_t> samples(kSamples);
    uint32_t read = 0;
    for (auto _ : state) {
        KVD4093_ReadDeviceAD(handle, samples.data(), kSamples, &read);
        benchmark::DoNotOptimize(samples.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kSamples * 2);
}

void BM_Memcpy_65536Samples(benchmark::State &state) {
    std::vector<uint16_t> from(kSamples, 0x1234), to(kSamples);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), kSamples * 2);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kSamples * 2);
}

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

BENCHMARK(BM_ReadDeviceAD_65536);
BENCHMARK(BM_Memcpy_65536Samples);
BENCHMARK(BM_WriteDeviceDA);
BENCHMARK(BM_WriteDeviceDA_Backend);
BENCHMARK(BM_SetDeviceDO);
BENCHMARK(BM_SetDeviceDO_Backend);
BENCHMARK(BM_GetDeviceDI);
BENCHMARK(BM_GetDeviceDI_Backend);

} // namespace
