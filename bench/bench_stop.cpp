// The AD stop while another thread's read waits in the card: how soon the
// stop returns once the read has ended (median and worst of 20 stops), and
// the processor time the stopping thread spends meanwhile, for reads held
// 20 ms each.
#include <time.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>

#include "KVD4093.h"
#include "platform/virtual/virtual_card.h"

namespace {

namespace vcard = kvd::vcard;
using Clock = std::chrono::steady_clock;

constexpr int kStops = 20;
constexpr auto kHeld = std::chrono::milliseconds(20);

double threadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

struct StopFigures {
    Clock::duration afterRead;
    double cpuSeconds;
};

StopFigures oneStop(KVD4093_HANDLE card) {
    const ADPara para = {0, 0, 0, 3, 100000, 0, 1000, 1, 0, 0, 0, 0, 0, 10, 0, 0, 0};
    KVD4093_InitDeviceAD(card, &para);
    vcard::card(0).holdReads();
    auto reader = std::async(std::launch::async, [card] {
        uint16_t block[1024];
        uint32_t read = 0;
        return KVD4093_ReadDeviceAD(card, block, 1024, &read);
    });
    vcard::card(0).waitForHeldRead(5000);
    auto stopper = std::async(std::launch::async, [card] {
        const double cpuBefore = threadCpuSeconds();
        KVD4093_ReleaseDeviceAD(card);
        return std::make_pair(Clock::now(), threadCpuSeconds() - cpuBefore);
    });
    std::this_thread::sleep_for(kHeld);
    vcard::card(0).releaseReads();
    reader.get();
    const Clock::time_point readEnded = Clock::now();
    const auto [returned, cpu] = stopper.get();
    return {returned - readEnded, cpu};
}

void BM_StopWhileAReadWaits(benchmark::State &state) {
    vcard::install({7});
    vcard::card(0).setRecording(false);
    KVD4093_HANDLE card = KVD4093_CreateDevice(0);
    std::vector<double> latencies;
    double cpu = 0;
    for (auto _ : state) {
        for (int stop = 0; stop < kStops; ++stop) {
            const StopFigures figures = oneStop(card);
            latencies.push_back(std::chrono::duration<double, std::micro>(figures.afterRead).count());
            cpu += figures.cpuSeconds;
        }
    }
    std::sort(latencies.begin(), latencies.end());
    state.counters["median_us"] = latencies[latencies.size() / 2];
    state.counters["worst_us"] = latencies.back();
    state.counters["cpu_ms_per_stop"] = cpu * 1e3 / double(latencies.size());
    KVD4093_ReleaseDevice(card);
    vcard::uninstall();
}

BENCHMARK(BM_StopWhileAReadWaits)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace
