#include "device/opening.h"

#include <cstdio>

#include "device/device_object.h"
#include "device/trace.h"
#include "device/transport.h"
#include "core/messages.h"
#include "core/library_app.h"
#include "card_model/driver_protocol.h"

namespace kvd::device {
namespace {

constexpr int32_t kLogicalNumbersSearched = 32;
// IDs from this one up are not searched for: the first card that opens decides.
constexpr int32_t kFirstSpecialId = 16;
constexpr int32_t kIdSelectedBySpecialId = 15;
constexpr uint32_t kInterfaceSetting = 0x0100; // sends 0x00, 0x01
constexpr uint32_t kSecondVersionWord = 0x06000000;

void logError(int32_t code, const char *functionName, const char *message) {
    theApp().logError(code, functionName, message);
}

// Takes the new record's lease, held since its creation, and lets it go
// with the packet.
bool sendOpenPacket(DeviceLease device) {
    // A DA word with data 0x001F, channel 0 and bit 20 set.
    uint8_t packet[protocol::kPacketSize] = {protocol::kCmdDaWord, 0x1F, 0x00, 0x10};
    uint32_t written = 0;
    return bulkWrite(*device, protocol::kPipeCommand, packet, sizeof packet, &written) == 1;
}

// Asks one of the identity requests, which answer in their 4-byte input buffer.
bool identityRequest(DeviceObject &device, uint32_t code, int32_t *answer) {
    uint8_t buffer[4] = {};
    uint32_t returned = 0;
    if (driverRequest(device, code, buffer, sizeof buffer, nullptr, 0, &returned) == 0)
        return false;
    *answer = static_cast<int32_t>(protocol::readLe32(buffer));
    return true;
}

bool readStatus(KVD4093_HANDLE handle, uint8_t (&status)[protocol::kPacketSize]) {
    uint32_t count = 0;
    return bulkRead(handle, protocol::kPipeStatus, status, sizeof status, &count) == 1;
}

KVD4093_HANDLE selectCard(KVD4093_HANDLE handle) {
    if (setInterface(handle, kInterfaceSetting) == 1)
        return handle;
    logError(2, "KVD4093_CreateDeviceEx", text::kUsbDeviceInvalid);
    discardDevice(handle);
    return KVD4093_INVALID_HANDLE;
}

} // namespace

KVD4093_HANDLE createDevice(int32_t logicalNumber) {
    uint32_t status = 0;
    DriverFile driver;
    if (!openDriver(logicalNumber, &status, &driver)) {
        if (status == platform::kStatusCardBusy)
            trace::recordBusyOpen(logicalNumber, status);
        logError(1, "KVD4093_CreateDevice", text::kNoDeviceDriver);
        return KVD4093_INVALID_HANDLE;
    }
    DeviceLease device = createDeviceObject(driver);
    KVD4093_HANDLE handle = device.get();
    if (sendOpenPacket(std::move(device)))
        return handle;
    logError(1, "KVD4093_WriteDeviceDA", text::kDeviceHandleInvalid);
    discardDevice(handle);
    return nullptr;
}

KVD4093_HANDLE createDeviceEx(int32_t wanted) {
    for (int32_t n = 0; n < kLogicalNumbersSearched; ++n) {
        KVD4093_HANDLE handle = createDevice(n);
        if (handle == KVD4093_INVALID_HANDLE)
            continue;
        const int32_t found = readPhysicalId(handle);
        if (wanted >= kFirstSpecialId) { // whatever this card's ID read gave
            if (found == kIdSelectedBySpecialId && wanted == kFirstSpecialId)
                return selectCard(handle);
            if (found == kIdSelectedBySpecialId)
                discardDevice(handle);
            else
                releaseDevice(handle);
            break;
        }
        if (found >= 0 && found == wanted) // an ID that could not be read matches nothing
            return selectCard(handle);
        releaseDevice(handle);
    }
    char message[64];
    std::snprintf(message, sizeof message, text::kPhysicalIdMissingFormat, wanted);
    logError(1, "KVD4093_CreateDeviceEx", message);
    return KVD4093_INVALID_HANDLE;
}

int32_t releaseDevice(KVD4093_HANDLE handle) {
    switch (releaseHandle(handle)) {
    case Release::Freed: return 1;
    case Release::Kept: logError(1, "KVD4093_ReleaseDevice", text::kDeviceHandleInvalid); return 0;
    case Release::NotLive: return 0;
    }
    return 0;
}

int32_t deviceCount(KVD4093_HANDLE handle) {
    const DeviceLease device = liveDevice(handle);
    if (device == nullptr)
        return 0;
    int32_t count = 0;
    if (!identityRequest(*device, protocol::kGetDeviceCount, &count)) {
        logError(1, "KVD4093_GetDeviceCount", text::kDeviceHandleInvalid);
        return 0;
    }
    return count;
}

int32_t deviceCurrentId(KVD4093_HANDLE handle, int32_t *logicalNumber, int32_t *physicalId) {
    const DeviceLease device = liveDevice(handle);
    if (device == nullptr)
        return 0;
    int32_t current = 0;
    if (!identityRequest(*device, protocol::kGetCurrentId, &current)) {
        logError(1, "KVD4093_GetDeviceCurrentID", text::kDeviceHandleInvalid);
        return 0;
    }
    if (logicalNumber != nullptr)
        *logicalNumber = current;
    const int32_t found = readPhysicalId(handle);
    if (found < 0)
        return 0;
    if (physicalId != nullptr)
        *physicalId = found;
    return 1;
}

int32_t devVersion(KVD4093_HANDLE handle, uint32_t *version, uint32_t *secondWord) {
    uint8_t status[protocol::kPacketSize];
    if (liveDevice(handle) == nullptr || !readStatus(handle, status))
        return 0;
    const uint8_t *bytes = status + protocol::kStatusVersion;
    if (version != nullptr)
        *version = uint32_t(bytes[2]) << 16 | uint32_t(bytes[1]) << 8 | bytes[0];
    if (secondWord != nullptr)
        *secondWord = kSecondVersionWord;
    return 1;
}

int32_t readPhysicalId(KVD4093_HANDLE handle) {
    // The first status packet after an open can be stale; the second one counts.
    uint8_t status[protocol::kPacketSize];
    if (!readStatus(handle, status) || !readStatus(handle, status))
        return -1;
    return status[protocol::kStatusPhysicalId];
}

} // namespace kvd::device
