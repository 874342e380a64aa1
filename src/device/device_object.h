// The record behind every hDevice, the validity test every device operation
// applies before anything else, and the leases that keep a record alive for
// the calls using it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>

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
    std::atomic<uint32_t> magic{kDeviceMagic}; // cleared by the release
    DriverFile hDriverFile;
    ADPara adParaCopy{};
    int32_t bADInitialized = 0;
    // Written by a reading thread, polled by a stopping thread.
    std::atomic<int32_t> bADReadBusy{0};
    // A stop waits for the read in flight on this condition rather than
    // spinning; the reader signals it only while a stop waits.
    std::atomic<int32_t> stopsWaiting{0};
    std::mutex readEndMutex;
    std::condition_variable readEnded;

    // The leases held now: the calls using the record, and the release's own.
    std::atomic<int32_t> leases{0};
    // Set while the release ends the calls under way: no new request starts.
    std::atomic<bool> closing{false};

    // A released record's storage waits in the quarantine before the heap
    // may hand its address out again.
    static void operator delete(void *record, std::size_t size) noexcept;
};
static_assert(std::atomic<int32_t>::is_always_lock_free && std::atomic<uint32_t>::is_always_lock_free);

// A call's hold on a record: the record stays allocated while a lease on it
// exists, even when another thread releases its handle meanwhile. Dropping a
// lease never frees the record: only the release does, once its own lease is
// the last one (freeDevice), so no two threads can both decide to free it.
class DeviceLease {
public:
    DeviceLease() = default;
    DeviceLease(std::nullptr_t) {}
    DeviceLease(DeviceLease &&other) noexcept : device_(other.device_) { other.device_ = nullptr; }
    DeviceLease &operator=(DeviceLease &&other) noexcept;
    DeviceLease(const DeviceLease &) = delete;
    DeviceLease &operator=(const DeviceLease &) = delete;
    ~DeviceLease() { drop(); }

    DeviceObject *get() const { return device_; }
    DeviceObject *operator->() const { return device_; }
    DeviceObject &operator*() const { return *device_; }
    explicit operator bool() const { return device_ != nullptr; }
    bool operator==(std::nullptr_t) const { return device_ == nullptr; }

private:
    friend DeviceLease leaseOf(DeviceObject *device);
    friend void freeDevice(DeviceLease own);
    void drop() noexcept;
    DeviceObject *device_ = nullptr;
};

// Creates a record around an open driver file and makes its handle live; the
// lease returned is held from the start, so the record cannot go before the
// caller has used it.
DeviceLease createDeviceObject(const DriverFile &driver);

// The validity test: a lease on the record behind a handle the library
// handed out and has not taken back, whose first word is the magic word;
// else null. Never dereferences a handle it did not hand out.
DeviceLease liveDevice(KVD4093_HANDLE handle);

// Takes a handle out of the live set, so that every later call refuses it:
// the release's own lease on the record, or null when it was not live.
// Exactly one of several threads retiring the same handle gets it.
DeviceLease retireDevice(KVD4093_HANDLE handle);
// Puts back a record the release could not close: the handle is live again.
void restoreDevice(DeviceLease own);
// Frees a retired record whose driver file is closed. `own` is the release's
// lease, which must be the only one left (the release has seen the count
// fall to 1): no call holds the record any more, and none can take it.
void freeDevice(DeviceLease own);

// How many handles are live now, and how many records were freed since the
// process started (a record freed twice counts twice): what the library
// holds, for its tests.
size_t liveDeviceCount();
uint64_t devicesFreed();

} // namespace kvd::device
