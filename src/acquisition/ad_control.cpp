#include "acquisition/ad_control.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <mutex>

#include "acquisition/ad_para_encoding.h"
#include "device/device_object.h"
#include "device/transport.h"
#include "core/messages.h"
#include "core/library_app.h"
#include "card_model/driver_protocol.h"
#include "facts/card_limits.h"

namespace kvd::acquisition {
namespace {

using device::DeviceLease;
using device::DeviceObject;
using Packet = uint8_t[protocol::kPacketSize];

constexpr uint8_t kRunStart = 1;
constexpr uint8_t kRunStop = 0;

bool send(DeviceObject &device, uint32_t pipe, const Packet &packet) {
    uint32_t written = 0;
    return device::bulkWrite(device, pipe, packet, sizeof(Packet), &written) == 1;
}

bool sendRangeWord(DeviceObject &device, uint16_t word) {
    Packet packet = {protocol::kCmdAdRange, static_cast<uint8_t>(word), static_cast<uint8_t>(word >> 8)};
    return send(device, protocol::kPipeAdCommand, packet);
}

bool sendRangeWords(DeviceObject &device, const ADPara &para) {
    return sendRangeWord(device, kFixedRangeWord) && sendRangeWord(device, rangeWord(para));
}

bool sendRun(DeviceObject &device, uint8_t run) {
    Packet packet = {protocol::kCmdAdRun, run};
    return send(device, protocol::kPipeAdCommand, packet);
}

int32_t fail(int32_t code, const char *message) {
    theApp().logError(code, "KVD4093_InitDeviceAD", message);
    return 0;
}

// Waits until no read is outstanding, at most kStopWaitMs by the tick count.
// The reader signals the end of its read while a stop waits, so the stop
// goes on at once and costs no processor meanwhile; the waits are short
// slices, so the tick count bounds the whole wait whatever happens.
void waitForPendingRead(DeviceObject &device) {
    constexpr uint32_t kSliceMs = 10;
    const uint32_t start = platform::tickCount();
    device.stopsWaiting.fetch_add(1);
    {
        std::unique_lock lock(device.readEndMutex);
        for (uint32_t waited = 0; device.bADReadBusy.load() != 0 && waited < kStopWaitMs;
             waited = platform::tickCount() - start)
            device.readEnded.wait_for(lock, std::chrono::milliseconds(std::min(kStopWaitMs - waited, kSliceMs)));
    }
    device.stopsWaiting.fetch_sub(1);
}

// Clears the busy flag after a read and wakes a stop that waits for it.
void endRead(DeviceObject &device) {
    device.bADReadBusy.store(0);
    if (device.stopsWaiting.load() != 0) {
        std::lock_guard lock(device.readEndMutex);
        device.readEnded.notify_all();
    }
}

} // namespace

int32_t initDeviceAD(KVD4093_HANDLE handle, const ADPara *para) {
    const DeviceLease device = device::liveDevice(handle);
    if (device == nullptr || para == nullptr)
        return 0;
    std::memcpy(&device->adParaCopy, para, sizeof(ADPara));
    if (!sendRangeWords(*device, *para))
        return fail(1, text::kSetRangeFailed);
    Packet config = {};
    buildConfigPacket(*para, config);
    if (!send(*device, protocol::kPipeAdCommand, config))
        return fail(1, text::kSetHardwareParamsFailed);
    if (!sendRun(*device, kRunStart))
        return fail(1, text::kStartAdFailed);
    uint16_t firstBlock[facts::kSetUpSamples]; // taken to flush the card's first samples, then dropped
    uint32_t samplesRead = 0;
    if (readDeviceAD(handle, firstBlock, facts::kSetUpSamples, &samplesRead) == 0)
        return fail(2, text::kInitialReadFailed);
    device->bADInitialized = 1;
    return 1;
}

int32_t readDeviceAD(KVD4093_HANDLE handle, uint16_t *samples, uint32_t sampleCount, uint32_t *samplesRead) {
    const DeviceLease device = device::liveDevice(handle);
    if (device == nullptr)
        return 0;
    int32_t result = 0;
    uint32_t bytesReturned = 0;
    const uint64_t byteCount = uint64_t(sampleCount) * 2;
    if (byteCount <= UINT32_MAX) { // a longer read is refused rather than wrapped
        uint8_t pipeWord[4];
        protocol::putPipeWord(pipeWord, protocol::kPipeAdData);
        device->bADReadBusy.store(1);
        result = device::driverRequest(*device, protocol::kBulkRead, pipeWord, sizeof pipeWord, samples,
                                       static_cast<uint32_t>(byteCount), &bytesReturned);
        endRead(*device);
    }
    if (samplesRead != nullptr)
        *samplesRead = bytesReturned / 2;
    if (result == 0)
        theApp().logError(2, "KVD4093_ReadDeviceAD", text::kReadAdFailed);
    return result;
}

int32_t releaseDeviceAD(KVD4093_HANDLE handle) {
    const DeviceLease device = device::liveDevice(handle);
    if (device == nullptr)
        return 0;
    const ADPara &para = device->adParaCopy;
    if (!sendRangeWords(*device, para))
        return fail(1, text::kSetRangeFailed); // logged under the set-up's name
    Packet config = {};
    buildStopConfigPacket(para, config);
    // Restart at a fast rate with no trigger, so a read still waiting gets its data.
    if (!send(*device, protocol::kPipeAdCommand, config) || !sendRun(*device, kRunStart))
        return 0;
    waitForPendingRead(*device);
    return sendRun(*device, kRunStop) ? 1 : 0;
}

uint8_t triggerLevelByte(int32_t level) {
    const int64_t scaled = static_cast<int64_t>(static_cast<double>(level) * 0.0256);
    if (scaled < 0)
        return 0;
    return static_cast<uint8_t>(scaled > 255 ? 255 : scaled);
}

int32_t setDeviceTrigLevel(KVD4093_HANDLE handle, int32_t level) {
    Packet packet = {protocol::kCmdTrigLevel, triggerLevelByte(level)};
    uint32_t written = 0;
    if (device::bulkWrite(handle, protocol::kPipeCommand, packet, sizeof packet, &written) == 1)
        return 1;
    theApp().logError(1, "KVD4093_SetDeviceTrigLevel", text::kDeviceHandleInvalid);
    return 0;
}

} // namespace kvd::acquisition
