#include "device/device_object.h"

#include <mutex>
#include <unordered_set>

namespace kvd::device {
namespace {

// The set of records handed out and not yet taken back. A handle is tested
// against it before the record is touched, so stale or garbage handles are
// refused instead of dereferenced.
struct LiveRecords {
    std::mutex mutex;
    std::unordered_set<const void *> records;
};

LiveRecords &liveRecords() {
    // Never destroyed: exports may run during static destruction of a host.
    static auto *records = new LiveRecords;
    return *records;
}

} // namespace

DeviceObject *createDeviceObject(const DriverFile &driver) {
    auto *device = new DeviceObject;
    device->hDriverFile = driver;
    LiveRecords &live = liveRecords();
    std::lock_guard lock(live.mutex);
    live.records.insert(device);
    return device;
}

void destroyDeviceObject(DeviceObject *device) {
    {
        LiveRecords &live = liveRecords();
        std::lock_guard lock(live.mutex);
        live.records.erase(device);
    }
    device->magic = 0;
    delete device;
}

DeviceObject *liveDevice(KVD4093_HANDLE handle) {
    if (handle == nullptr || handle == KVD4093_INVALID_HANDLE)
        return nullptr;
    LiveRecords &live = liveRecords();
    std::lock_guard lock(live.mutex);
    if (live.records.find(handle) == live.records.end())
        return nullptr;
    auto *device = static_cast<DeviceObject *>(handle);
    return device->magic == kDeviceMagic ? device : nullptr;
}

} // namespace kvd::device
