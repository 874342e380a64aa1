#include "device/device_object.h"

#include <mutex>
#include <unordered_set>

#include "platform/quarantine.h"

namespace kvd::device {
namespace {

// The set of records handed out and not yet taken back. A handle is tested
// against it before the record is touched, so stale or garbage handles are
// refused instead of dereferenced. A lease is counted under its lock, so a
// retired record gains no new lease.
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

void DeviceObject::operator delete(void *record, std::size_t size) noexcept { platform::quarantine(record, size); }

DeviceLease leaseOf(DeviceObject *device) {
    DeviceLease lease;
    device->leases.fetch_add(1, std::memory_order_relaxed);
    lease.device_ = device;
    return lease;
}

DeviceLease &DeviceLease::operator=(DeviceLease &&other) noexcept {
    if (this != &other) {
        drop();
        device_ = other.device_;
        other.device_ = nullptr;
    }
    return *this;
}

void DeviceLease::drop() noexcept {
    if (device_ == nullptr)
        return;
    if (device_->leases.fetch_sub(1, std::memory_order_acq_rel) == 1 && device_->retired.load())
        delete device_;
    device_ = nullptr;
}

KVD4093_HANDLE createDeviceObject(const DriverFile &driver) {
    auto *device = new DeviceObject;
    device->hDriverFile = driver;
    LiveRecords &live = liveRecords();
    std::lock_guard lock(live.mutex);
    live.records.insert(device);
    return device;
}

DeviceLease liveDevice(KVD4093_HANDLE handle) {
    if (handle == nullptr || handle == KVD4093_INVALID_HANDLE)
        return nullptr;
    LiveRecords &live = liveRecords();
    std::lock_guard lock(live.mutex);
    if (live.records.find(handle) == live.records.end())
        return nullptr;
    auto *device = static_cast<DeviceObject *>(handle);
    return device->magic.load() == kDeviceMagic ? leaseOf(device) : nullptr;
}

DeviceLease retireDevice(KVD4093_HANDLE handle) {
    if (handle == nullptr || handle == KVD4093_INVALID_HANDLE)
        return nullptr;
    LiveRecords &live = liveRecords();
    std::lock_guard lock(live.mutex);
    if (live.records.erase(handle) == 0)
        return nullptr;
    return leaseOf(static_cast<DeviceObject *>(handle));
}

void restoreDevice(DeviceObject &device) {
    LiveRecords &live = liveRecords();
    std::lock_guard lock(live.mutex);
    live.records.insert(&device);
}

} // namespace kvd::device
