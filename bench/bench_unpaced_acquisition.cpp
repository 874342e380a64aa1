// An unpaced acquisition through the public KVD4093_ReadDeviceAD: the
// samples a second that the library and a virtual card (waveforms, no
// pacing, no request listing) deliver into the caller's buffer, for several
// block sizes. The card's fastest rate is 10 million samples a second.
#include <vector>

#include <benchmark/benchmark.h>

#include "KVD4093.h"
#include "platform/virtual/virtual_card.h"

namespace {

namespace vcard = kvd::vcard;

void BM_UnpacedAcquisition(benchmark::State &state) {
    const auto block = static_cast<uint32_t>(state.range(0));
    vcard::Behaviour behaviour;
    behaviour.signals = vcard::Signals::Waveforms;
    vcard::install({0}, behaviour);
    vcard::card(0).setRecording(false);
    KVD4093_HANDLE card = KVD4093_CreateDevice(0);
    const ADPara para = {0, 0, 0, 3, 10000000, 0, 1000, 1, 0, 0, 0, 0, 0, 10, 0, 0, 0};
    if (!KVD4093_InitDeviceAD(card, &para)) {
        state.SkipWithError("KVD4093_InitDeviceAD failed");
        return;
    }
    std::vector<uint16_t> samples(block);
    uint32_t read = 0;
    for (auto _ : state) {
        if (!KVD4093_ReadDeviceAD(card, samples.data(), block, &read) || read != block) {
            state.SkipWithError("KVD4093_ReadDeviceAD failed");
            break;
        }
        benchmark::DoNotOptimize(samples.data());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * block);
    KVD4093_ReleaseDeviceAD(card);
    KVD4093_ReleaseDevice(card);
    vcard::uninstall();
}

BENCHMARK(BM_UnpacedAcquisition)->Arg(4096)->Arg(65536)->Arg(1 << 20);

} // namespace
