#include "device/transport.h"

#include <chrono>
#include <optional>
#include <thread>

#include "device/trace.h"
#include "core/messages.h"
#include "card_model/driver_protocol.h"

namespace kvd::device {
namespace {

// What the trace shows of a request's data: the bytes written, the two
// interface bytes, the start of a status packet read.
void traceRequest(const DeviceObject &device, uint32_t code, const void *input, uint32_t inputSize,
                  const void *output, uint32_t outputSize, uint32_t returned, int32_t result) {
    trace::Line line{device.hDriverFile.logicalNumber, code, 0, outputSize, returned, result, nullptr, 0};
    if (protocol::isBulk(code) && input != nullptr && inputSize >= 4)
        line.pipe = protocol::readLe32(static_cast<const uint8_t *>(input));
    if (code == protocol::kBulkWrite) {
        line.data = static_cast<const uint8_t *>(output);
        line.dataSize = outputSize < 20 ? outputSize : 20;
    } else if (code == protocol::kSetInterface) {
        line.asked = inputSize;
        line.data = static_cast<const uint8_t *>(input);
        line.dataSize = inputSize;
    } else if (code == protocol::kGetCurrentId || code == protocol::kGetDeviceCount) {
        line.asked = inputSize;
    } else if (code == protocol::kBulkRead && line.pipe == protocol::kPipeStatus && result != 0) {
        line.data = static_cast<const uint8_t *>(output);
        line.dataSize = returned < 21 ? returned : 21;
    }
    trace::record(line);
}

// How long a release waits for the calls on its handle to end. A driver that
// never ends a request must not hold the caller's release for good.
constexpr std::chrono::seconds kCallsEndWithin{5};

// Ends the calls still holding a retired record: no request starts once
// closing is set, and what waits in the driver is cancelled, again and again,
// because a call may enter the driver just after a cancel. True once the
// release's own lease is the only one; false when calls remain after
// kCallsEndWithin.
bool endCalls(DeviceObject &device) {
    const DriverFile &driver = device.hDriverFile;
    device.closing.store(true);
    const auto deadline = std::chrono::steady_clock::now() + kCallsEndWithin;
    for (int round = 0; device.leases.load() > 1; ++round) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        driver.backend->cancel(driver.file);
        if (round < 16)
            std::this_thread::yield();
        else
            std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

} // namespace

bool openDriver(int32_t logicalNumber, uint32_t *status, DriverFile *driver) {
    const platform::CardBackend &backend = platform::activeCardBackend();
    platform::BackendFile *file = backend.open(logicalNumber, status);
    if (file == nullptr)
        return false;
    *driver = DriverFile{&backend, file, logicalNumber};
    return true;
}

Release releaseHandle(KVD4093_HANDLE handle) {
    DeviceLease device = retireDevice(handle);
    if (device == nullptr)
        return Release::NotLive;
    const DriverFile &driver = device->hDriverFile;
    if (!endCalls(*device) || !driver.backend->close(driver.file)) {
        device->closing.store(false); // requests may start again
        restoreDevice(std::move(device));
        return Release::Kept;
    }
    freeDevice(std::move(device));
    return Release::Freed;
}

void discardDevice(KVD4093_HANDLE handle) { releaseHandle(handle); }

int32_t driverRequest(DeviceObject &device, uint32_t code, void *input, uint32_t inputSize, void *output,
                      uint32_t outputSize, uint32_t *bytesReturned) {
    const DriverFile &driver = device.hDriverFile;
    if (device.closing.load(std::memory_order_relaxed)) [[unlikely]] {
        if (bytesReturned != nullptr)
            *bytesReturned = 0;
        return 0;
    }
    const int32_t result =
        driver.backend->request(driver.file, code, input, inputSize, output, outputSize, bytesReturned);
    if (trace::enabled()) [[unlikely]]
        traceRequest(device, code, input, inputSize, output, outputSize, bytesReturned ? *bytesReturned : 0,
                     result);
    return result;
}

int32_t bulkRead(DeviceObject &device, uint32_t pipe, void *buffer, uint32_t size, uint32_t *bytesReturned) {
    uint8_t pipeWord[4];
    protocol::putPipeWord(pipeWord, pipe);
    return driverRequest(device, protocol::kBulkRead, pipeWord, sizeof pipeWord, buffer, size, bytesReturned) == 1;
}

int32_t bulkWrite(DeviceObject &device, uint32_t pipe, const void *buffer, uint32_t size, uint32_t *bytesReturned) {
    uint8_t pipeWord[4];
    protocol::putPipeWord(pipeWord, pipe);
    // The driver reads the data from the request's output buffer; it never writes to it.
    return driverRequest(device, protocol::kBulkWrite, pipeWord, sizeof pipeWord, const_cast<void *>(buffer), size,
                         bytesReturned) == 1;
}

int32_t bulkRead(KVD4093_HANDLE handle, uint32_t pipe, void *buffer, uint32_t size, uint32_t *bytesReturned) {
    const DeviceLease device = liveDevice(handle);
    return device ? bulkRead(*device, pipe, buffer, size, bytesReturned) : 0;
}

int32_t bulkWrite(KVD4093_HANDLE handle, uint32_t pipe, const void *buffer, uint32_t size, uint32_t *bytesReturned) {
    const DeviceLease device = liveDevice(handle);
    return device ? bulkWrite(*device, pipe, buffer, size, bytesReturned) : 0;
}

int32_t setInterface(KVD4093_HANDLE handle, uint32_t value) {
    const DeviceLease device = liveDevice(handle);
    if (device == nullptr)
        return 0;
    uint8_t setting[2] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)};
    uint32_t returned = 0;
    return driverRequest(*device, protocol::kSetInterface, setting, sizeof setting, nullptr, 0, &returned) != 0;
}

namespace {

// The reset request on a live handle: its truth value, or nothing when the
// handle is dead. The lease ends with the request.
std::optional<bool> resetPort(KVD4093_HANDLE handle) {
    const DeviceLease device = liveDevice(handle);
    if (device == nullptr)
        return std::nullopt;
    uint32_t returned = 0;
    return driverRequest(*device, protocol::kUsbReset, nullptr, 0, nullptr, 0, &returned) != 0;
}

} // namespace

// The box waits for a person: no lease is held meanwhile, so a release from
// another thread does not wait for the box to close.
int32_t usbReset(KVD4093_HANDLE handle) {
    const std::optional<bool> reset = resetPort(handle);
    if (!reset)
        return 0;
    if (*reset)
        return 1;
    platform::showMessage(text::kUsbResetFailed, text::kApplicationName, platform::kMessageOk);
    return 0;
}

namespace {
int32_t lowFileRequest(KVD4093_HANDLE handle, uint32_t code) {
    const DeviceLease device = liveDevice(handle);
    if (device == nullptr)
        return 0;
    uint32_t returned = 0;
    return driverRequest(*device, code, nullptr, 0, nullptr, 0, &returned);
}
} // namespace

int32_t createLowFile(KVD4093_HANDLE handle) { return lowFileRequest(handle, protocol::kCreateLowFile); }
int32_t closeLowFile(KVD4093_HANDLE handle) { return lowFileRequest(handle, protocol::kCloseLowFile); }

} // namespace kvd::device
