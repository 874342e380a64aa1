// The cost the library adds to a request on the USB card backend: each request made
// through the export against the same request made straight on the USB
// backend, both against an emulated card (libusb over umockdev). The low-file
// request is answered by the backend itself, so its pair shows the library's
// own cost without the emulated card's socket round trips; the bulk write,
// the status read and the AD data read go all the way to the card. The AD
// reads are 1000 samples, which end inside a packet: each read takes the
// rest of the packet the one before kept. Every benchmark counts what the
// requesting thread allocates (allocs/call), malloc included; the emulated
// card's own threads are not counted.
//
// Runs itself again under umockdev's preload library when started without it.
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include <benchmark/benchmark.h>

#include "KVD4093.h"
#include "allocation_counter.h"
#include "card_descriptors.h"
#include "card_link.h"
#include "card_model/driver_protocol.h"
#include "platform/usb/usb_card_backend.h"
#include "platform/usb/usb_devices.h"
#include "facts/usb_ids.h"
#include "platform/virtual/virtual_card.h"
#include "usb_testbed.h"

namespace {

using namespace kvd;

struct EmulatedUsbCard {
    EmulatedUsbCard() {
        vcard::install({7});
        vcard::card(0).setRecording(false);
        bed.plug(1, usbsim::kVendorId, usbsim::kProductId, usbsim::virtualCardLink(0));
        setenv(facts::kUsbIdsVariable,
               facts::formatUsbIds({{usbsim::kVendorId, usbsim::kProductId}}).c_str(), 1);
        platform::overrideCardBackend(&platform::usb::usbCardBackend());
        while (platform::usb::MatchingDevices().devices().empty())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        handle = KVD4093_CreateDevice(0);
        uint32_t status = 0;
        file = platform::usb::usbCardBackend().open(0, &status);
        // An unpaced acquisition: both the handle and the file read its stream.
        const ADPara para = {0, 0, 0, 3, 100000, 0, 1000, 1, 0, 0, 0, 0, 0, 10, 0, 0, 0};
        KVD4093_InitDeviceAD(handle, &para);
    }
    int32_t straight(uint32_t code, uint32_t pipe, void *data, uint32_t size) {
        uint8_t pipeWord[4] = {static_cast<uint8_t>(pipe), 0, 0, 0};
        uint32_t returned = 0;
        return platform::usb::usbCardBackend().request(file, code, pipeWord, protocol::isBulk(code) ? 4 : 0, data,
                                                       size, &returned);
    }
    usbsim::UsbTestbed bed;
    KVD4093_HANDLE handle = nullptr;
    platform::BackendFile *file = nullptr;
};

EmulatedUsbCard &card() {
    static EmulatedUsbCard emulated;
    return emulated;
}

// Runs one request per iteration and reports the thread's allocations.
template <typename Request> void measure(benchmark::State &state, Request request) {
    request(); // the first one of a kind may set up what later ones reuse
    const long before = bench::t_allocations;
    for (auto _ : state)
        benchmark::DoNotOptimize(request());
    bench::reportOwnAllocations(state, before);
}


void BM_LowFileThroughLibrary(benchmark::State &state) {
    KVD4093_HANDLE handle = card().handle;
    measure(state, [&] { return KVD4093_CreateLowFile(handle); });
}

void BM_LowFileStraightOnBackend(benchmark::State &state) {
    EmulatedUsbCard &usb = card();
    measure(state, [&] { return usb.straight(protocol::kCreateLowFile, 0, nullptr, 0); });
}

void BM_BulkWriteThroughLibrary(benchmark::State &state) {
    KVD4093_HANDLE handle = card().handle;
    uint8_t packet[512] = {0x03, 0xff, 0xff};
    uint32_t written = 0;
    measure(state, [&] { return BulkWrite(handle, 1, packet, 512, &written); });
}

void BM_BulkWriteStraightOnBackend(benchmark::State &state) {
    EmulatedUsbCard &usb = card();
    uint8_t packet[512] = {0x03, 0xff, 0xff};
    measure(state, [&] { return usb.straight(protocol::kBulkWrite, 1, packet, 512); });
}

void BM_StatusReadThroughLibrary(benchmark::State &state) {
    KVD4093_HANDLE handle = card().handle;
    uint8_t status[512];
    uint32_t read = 0;
    measure(state, [&] { return BulkRead(handle, 3, status, 512, &read); });
}

void BM_StatusReadStraightOnBackend(benchmark::State &state) {
    EmulatedUsbCard &usb = card();
    uint8_t status[512];
    measure(state, [&] { return usb.straight(protocol::kBulkRead, 3, status, 512); });
}

// AD reads of state.range(0) samples: 1 takes 255 of 256 reads from the
// packet kept, 1000 (2000 bytes) three packets and part of a fourth.
void BM_AdReadThroughLibrary(benchmark::State &state) {
    KVD4093_HANDLE handle = card().handle;
    const auto count = uint32_t(state.range(0));
    std::vector<uint16_t> samples(count);
    uint32_t read = 0;
    measure(state, [&] { return KVD4093_ReadDeviceAD(handle, samples.data(), count, &read); });
}

void BM_AdReadStraightOnBackend(benchmark::State &state) {
    EmulatedUsbCard &usb = card();
    std::vector<uint16_t> samples(size_t(state.range(0)));
    measure(state, [&] { return usb.straight(protocol::kBulkRead, 2, samples.data(), uint32_t(samples.size() * 2)); });
}

BENCHMARK(BM_LowFileThroughLibrary);
BENCHMARK(BM_LowFileStraightOnBackend);
BENCHMARK(BM_BulkWriteThroughLibrary);
BENCHMARK(BM_BulkWriteStraightOnBackend);
BENCHMARK(BM_StatusReadThroughLibrary);
BENCHMARK(BM_StatusReadStraightOnBackend);
BENCHMARK(BM_AdReadThroughLibrary)->Arg(1)->Arg(1000);
BENCHMARK(BM_AdReadStraightOnBackend)->Arg(1)->Arg(1000);

} // namespace

int main(int argc, char **argv) {
    const char *preload = std::getenv("LD_PRELOAD");
    if (preload == nullptr || std::strstr(preload, "libumockdev-preload") == nullptr) {
        setenv("LD_PRELOAD", usbsim::kPreloadLibrary, 1);
        execv("/proc/self/exe", argv);
        return 127;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
