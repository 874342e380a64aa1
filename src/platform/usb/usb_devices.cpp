// Finding the cards among the USB devices: libusb's device list filtered by
// the configured vendor:product pairs, in the order of bus and port path.
#include "platform/usb/usb_devices.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <dlfcn.h>
#include <mutex>

#include "platform/usb/usb_ids.h"

namespace kvd::platform::usb {
namespace {

libusb_context *g_context = nullptr;

// Where a device is plugged in: the order of the logical numbers.
uint64_t placeOf(libusb_device *device) {
    std::array<uint8_t, 7> ports{};
    const int depth = libusb_get_port_numbers(device, ports.data(), static_cast<int>(ports.size()));
    return facts::usbPlace(libusb_get_bus_number(device), ports.data(), depth);
}

bool matches(libusb_device *device, const std::vector<UsbId> &ids) {
    libusb_device_descriptor descriptor{};
    if (libusb_get_device_descriptor(device, &descriptor) != 0)
        return false;
    return std::any_of(ids.begin(), ids.end(), [&](const UsbId &id) {
        return id.vendor == descriptor.idVendor && id.product == descriptor.idProduct;
    });
}

} // namespace

// libusb keeps a thread of its own (it watches devices come and go) from
// its first use to libusb_exit. The library never calls libusb_exit: at
// process exit other threads may still be inside a transfer. So libusb must
// outlive a dlclose of this library, which would otherwise unload it under
// its own thread: it is pinned in memory for the life of the process.
void pinLibusb() {
    Dl_info where{};
    if (::dladdr(reinterpret_cast<void *>(&libusb_init), &where) != 0 && where.dli_fname != nullptr)
        ::dlopen(where.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
}

libusb_context *context() {
    static std::once_flag started;
    std::call_once(started, [] {
        pinLibusb();
        if (libusb_init(&g_context) != 0)
            g_context = nullptr;
    });
    return g_context;
}

uint32_t errnoOf(int libusbError) {
    switch (libusbError) {
    case LIBUSB_SUCCESS: return 0;
    case LIBUSB_ERROR_IO: return EIO;
    case LIBUSB_ERROR_INVALID_PARAM: return EINVAL;
    case LIBUSB_ERROR_ACCESS: return EACCES;
    case LIBUSB_ERROR_NO_DEVICE: return ENODEV;
    case LIBUSB_ERROR_NOT_FOUND: return ENOENT;
    case LIBUSB_ERROR_BUSY: return EBUSY;
    case LIBUSB_ERROR_TIMEOUT: return ETIMEDOUT;
    case LIBUSB_ERROR_OVERFLOW: return EOVERFLOW;
    case LIBUSB_ERROR_PIPE: return EPIPE;
    case LIBUSB_ERROR_INTERRUPTED: return EINTR;
    case LIBUSB_ERROR_NO_MEM: return ENOMEM;
    case LIBUSB_ERROR_NOT_SUPPORTED: return ENOSYS;
    default: return EIO;
    }
}

MatchingDevices::MatchingDevices() {
    libusb_context *usb = context();
    const std::vector<UsbId> ids = configuredUsbIds();
    if (usb == nullptr || ids.empty()) {
        status_ = ENODEV;
        return;
    }
    libusb_device **list = nullptr;
    const ssize_t count = libusb_get_device_list(usb, &list);
    if (count < 0) {
        status_ = errnoOf(static_cast<int>(count));
        return;
    }
    std::vector<std::pair<uint64_t, libusb_device *>> found;
    for (ssize_t i = 0; i < count; ++i)
        if (matches(list[i], ids))
            found.emplace_back(placeOf(list[i]), libusb_ref_device(list[i]));
    libusb_free_device_list(list, 1);
    std::sort(found.begin(), found.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
    for (auto &entry : found)
        devices_.push_back(entry.second);
}

MatchingDevices::~MatchingDevices() {
    for (libusb_device *device : devices_)
        libusb_unref_device(device);
}

} // namespace kvd::platform::usb
