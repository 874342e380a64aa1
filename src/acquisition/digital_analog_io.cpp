#include "acquisition/digital_analog_io.h"

#include "device/device_object.h"
#include "device/transport.h"
#include "core/messages.h"
#include "core/library_app.h"
#include "card_model/driver_protocol.h"
#include "facts/card_limits.h"

namespace kvd::acquisition {
namespace {

using Packet = uint8_t[protocol::kPacketSize];
constexpr uint8_t kSetupWordFlag = 0x08; // bit 19 of the DA word

bool sendDaWord(device::DeviceObject &device, uint8_t low, uint8_t middle, uint8_t high) {
    Packet packet = {protocol::kCmdDaWord, low, middle, high};
    uint32_t written = 0;
    return device::bulkWrite(device, protocol::kPipeCommand, packet, sizeof packet, &written) == 1;
}

int32_t failOutput(const char *functionName) {
    theApp().logError(1, functionName, text::kDeviceHandleInvalid);
    return 0;
}

} // namespace

int32_t writeDeviceDA(KVD4093_HANDLE handle, int32_t setupCode, int32_t value, int32_t channel) {
    const device::DeviceLease device = device::liveDevice(handle);
    if (device == nullptr)
        return 0;
    const auto address = static_cast<uint8_t>(channel & (facts::kDaChannels - 1)); // the channel's 3 address bits
    const bool sent =
        sendDaWord(*device, static_cast<uint8_t>(setupCode & 7), 0, kSetupWordFlag + address) &&
        sendDaWord(*device, static_cast<uint8_t>((value & 0x0F) << 4), static_cast<uint8_t>(value >> 4), address);
    return sent ? 1 : failOutput("KVD4093_WriteDeviceDA");
}

int32_t setDeviceDO(KVD4093_HANDLE handle, const uint8_t *states) {
    Packet packet = {protocol::kCmdSetDo};
    if (states != nullptr) { // without states the handle test still decides, and no packet goes out
        for (int n = 0; n < 8; ++n) {
            packet[1] |= static_cast<uint8_t>((states[n] & 1) << n);
            packet[2] |= static_cast<uint8_t>((states[8 + n] & 1) << n);
        }
    }
    uint32_t written = 0;
    if (states != nullptr &&
        device::bulkWrite(handle, protocol::kPipeCommand, packet, sizeof packet, &written) == 1)
        return 1;
    return failOutput("KVD4093_SetDeviceDO");
}

int32_t getDeviceDI(KVD4093_HANDLE handle, uint8_t *states) {
    Packet status;
    uint32_t count = 0;
    if (states == nullptr || device::bulkRead(handle, protocol::kPipeStatus, status, sizeof status, &count) != 1)
        return 0;
    for (int n = 0; n < 8; ++n) {
        states[n] = (status[protocol::kStatusDiLow] >> n) & 1;
        states[8 + n] = (status[protocol::kStatusDiHigh] >> n) & 1;
    }
    return 1;
}

} // namespace kvd::acquisition
