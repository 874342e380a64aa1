// The record behind every hDevice, and the validity test every device
// operation applies before anything else.
#pragma once

#include <atomic>
#include <cstdint>

#include "KVD4093.h"
#include "platform/platform.h"

namespace kvd::device {

constexpr uint32_t kDeviceMagic = 0x40935A5A;

// The open driver file of a card: the backend that answers for it, the
// backend's own handle, and the logical number it was opened under (for the trace).
struct DriverFile {
    const platform::CardBackend *backend = nullptr;
    platform::BackendFile *file = nullptr;
    int32_t logicalNumber = -1;
};

struct DeviceObject {
    uint32_t magic = kDeviceMagic;
    DriverFile hDriverFile;
    ADPara adParaCopy{};
    int32_t bADInitialized = 0;
    // Written by a reading thread, polled by a stopping thread.
    std::atomic<int32_t> bADReadBusy{0};
};
static_assert(std::atomic<int32_t>::is_always_lock_free);

// Creates a live record around an open driver file and registers it.
DeviceObject *createDeviceObject(const DriverFile &driver);
// Unregisters and frees a record (its driver file must be closed already).
void destroyDeviceObject(DeviceObject *device);

// The validity test: the record behind a handle the library handed out and
// has not taken back, whose first word is the magic word; else nullptr.
// Never dereferences a handle it did not hand out.
DeviceObject *liveDevice(KVD4093_HANDLE handle);

} // namespace kvd::device
