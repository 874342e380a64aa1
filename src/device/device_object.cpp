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

std::atomic<uint64_t> g_devicesFreed{0};

} // namespace

void DeviceObject::operator delete(void *record, std::size_t size) noexcept {
    g_devicesFreed.fetch_add(1, std::memory_order_relaxed);
    platform::quarantine(record, size);
}

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

// Touches nothing of the record after the count goes down: from then on the
// release may free it.
void DeviceLease::drop() noexcept {
    if (device_ == nullptr)
        return;
    device_->leases.fetch_sub(1, std::memory_order_release);
    device_ = nullptr;
}

DeviceLease createDeviceObject(const DriverFile &driver) {
    auto *device = new DeviceObject;
    device->hDriverFile = driver;
    LiveRecords &live = liveRecords();
    std::lock_guard lock(live.mutex);
    DeviceLease lease = leaseOf(device);
    live.records.insert(device);
    return lease;
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

void restoreDevice(DeviceLease own) {
    LiveRecords &live = liveRecords();
    std::lock_guard lock(live.mutex);
    live.records.insert(own.get());
}

void freeDevice(DeviceLease own) {
    DeviceObject *device = own.device_;
    own.device_ = nullptr; // the record goes with the release's lease
    device->magic.store(0);
    delete device;
}

size_t liveDeviceCount() {
    LiveRecords &live = liveRecords();
    std::lock_guard lock(live.mutex);
    return live.records.size();
}

uint64_t devicesFreed() { return g_devicesFreed.load(); }

} // namespace kvd::device
