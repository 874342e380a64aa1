#include "device/transport.h"

#include <chrono>
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

} // namespace

bool openDriver(int32_t logicalNumber, uint32_t *status, DriverFile *driver) {
    const platform::CardBackend &backend = platform::activeCardBackend();
    platform::BackendFile *file = backend.open(logicalNumber, status);
    if (file == nullptr)
        return false;
    *driver = DriverFile{&backend, file, logicalNumber};
    return true;
}

// No request starts once closing is set; the calls already under way are
// ended by cancelling what waits in the driver, again and again, because a
// call may enter the driver just after a cancel.
bool closeDriver(DeviceObject &device, int32_t ownLeases) {
    const DriverFile &driver = device.hDriverFile;
    device.closing.store(true);
    for (int round = 0; device.leases.load() > ownLeases; ++round) {
        driver.backend->cancel(driver.file);
        if (round < 16)
            std::this_thread::yield();
        else
            std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    if (driver.backend->close(driver.file))
        return true;
    device.closing.store(false);
    return false;
}

void discardDevice(KVD4093_HANDLE handle) {
    if (const DeviceLease device = retireDevice(handle); device && closeDriver(*device))
        device->retired.store(true);
}

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

int32_t usbReset(KVD4093_HANDLE handle) {
    const DeviceLease device = liveDevice(handle);
    if (device == nullptr)
        return 0;
    uint32_t returned = 0;
    if (driverRequest(*device, protocol::kUsbReset, nullptr, 0, nullptr, 0, &returned) != 0)
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
