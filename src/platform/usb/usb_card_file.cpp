#include "platform/usb/usb_card_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace kvd::platform::usb {
namespace {

// The card's endpoints in one interface setting, in descriptor order.
bool endpointsOf(libusb_device *device, uint8_t interfaceNumber, uint8_t alternateSetting,
                 std::vector<Endpoint> *endpoints) {
    libusb_config_descriptor *config = nullptr;
    if (libusb_get_active_config_descriptor(device, &config) != 0)
        return false;
    bool found = false;
    for (uint8_t i = 0; i < config->bNumInterfaces; ++i) {
        const libusb_interface &interface = config->interface[i];
        for (int a = 0; a < interface.num_altsetting; ++a) {
            const libusb_interface_descriptor &setting = interface.altsetting[a];
            if (setting.bInterfaceNumber != interfaceNumber || setting.bAlternateSetting != alternateSetting)
                continue;
            endpoints->clear();
            for (uint8_t e = 0; e < setting.bNumEndpoints; ++e)
                endpoints->push_back({setting.endpoint[e].bEndpointAddress, setting.endpoint[e].wMaxPacketSize});
            found = true;
        }
    }
    libusb_free_config_descriptor(config);
    return found;
}

// The process's open card files. A file of a card that is gone is never
// handed out again: the card comes back as a new device.
std::mutex g_openMutex;
std::vector<std::weak_ptr<CardFile>> g_open;

} // namespace

CardFile::CardFile(libusb_device *device, int fd)
    : device_(libusb_ref_device(device)), fd_(fd), bus_(libusb_get_bus_number(device)),
      address_(libusb_get_device_address(device)) {}

CardFile::~CardFile() {
    releaseAllLocked(); // the last owner: nothing else can hold the lock
    ::close(fd_);
    libusb_unref_device(device_);
}

std::shared_ptr<CardFile> CardFile::open(libusb_device *device, uint32_t *status) {
    std::lock_guard lock(g_openMutex);
    std::erase_if(g_open, [](const std::weak_ptr<CardFile> &file) { return file.expired(); });
    for (const std::weak_ptr<CardFile> &weak : g_open) {
        std::shared_ptr<CardFile> file = weak.lock();
        if (file && !file->gone() && file->bus_ == libusb_get_bus_number(device) &&
            file->address_ == libusb_get_device_address(device)) {
            *status = 0;
            return file;
        }
    }
    char path[32];
    std::snprintf(path, sizeof path, "/dev/bus/usb/%03u/%03u", libusb_get_bus_number(device),
                  libusb_get_device_address(device));
    const int fd = ::open(path, O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        *status = errno == ENOENT ? ENODEV : uint32_t(errno);
        return nullptr;
    }
    std::shared_ptr<CardFile> file(new CardFile(device, fd));
    {
        std::lock_guard setting(file->settingMutex_);
        if (!file->claimLocked(0, status))
            return nullptr;
        if (!endpointsOf(device, 0, 0, &file->endpoints_)) {
            *status = EIO;
            return nullptr;
        }
    }
    g_open.push_back(file);
    *status = 0;
    return file;
}

bool CardFile::gone() const { return gone_.load(std::memory_order_relaxed); }

void CardFile::noteError(int error) {
    if (error == ENODEV || error == ESHUTDOWN)
        gone_ = true;
}

// A kernel driver bound to the interface is let go first; one that is
// usbfs itself means another program holds the card.
bool CardFile::claimLocked(uint8_t interfaceNumber, uint32_t *status) {
    if (claimed_ & (1u << interfaceNumber))
        return true;
    unsigned int number = interfaceNumber;
    if (::ioctl(fd_, USBDEVFS_CLAIMINTERFACE, &number) == 0) {
        claimed_ |= 1u << interfaceNumber;
        return true;
    }
    *status = uint32_t(errno);
    usbdevfs_getdriver driver{};
    driver.interface = interfaceNumber;
    if (errno != EBUSY || ::ioctl(fd_, USBDEVFS_GETDRIVER, &driver) != 0 || std::strcmp(driver.driver, "usbfs") == 0)
        return false;
    usbdevfs_ioctl detach{int(interfaceNumber), USBDEVFS_DISCONNECT, nullptr};
    if (::ioctl(fd_, USBDEVFS_IOCTL, &detach) < 0 || ::ioctl(fd_, USBDEVFS_CLAIMINTERFACE, &number) != 0)
        return false;
    claimed_ |= 1u << interfaceNumber;
    return true;
}

bool CardFile::endpoint(uint32_t pipe, bool in, Endpoint *found) {
    std::lock_guard lock(settingMutex_);
    if (pipe >= endpoints_.size() || endpoints_[pipe].maxPacket == 0)
        return false;
    *found = endpoints_[pipe];
    return ((found->address & LIBUSB_ENDPOINT_IN) != 0) == in;
}

bool CardFile::selectSetting(uint8_t interfaceNumber, uint8_t alternateSetting) {
    std::lock_guard lock(settingMutex_);
    uint32_t status = 0;
    if (interfaceNumber >= 32 || !claimLocked(interfaceNumber, &status)) {
        noteError(int(status));
        return false;
    }
    usbdevfs_setinterface setting{interfaceNumber, alternateSetting};
    if (::ioctl(fd_, USBDEVFS_SETINTERFACE, &setting) != 0) {
        noteError(errno);
        return false;
    }
    return endpointsOf(device_, interfaceNumber, alternateSetting, &endpoints_);
}

// The interfaces are let go around the reset and claimed again after it,
// as the kernel drops usbfs claims when it rebinds the device's interfaces.
bool CardFile::resetPort() {
    std::lock_guard lock(settingMutex_);
    const uint32_t claimed = claimed_;
    releaseAllLocked();
    const bool reset = ::ioctl(fd_, USBDEVFS_RESET, nullptr) == 0;
    if (!reset)
        noteError(errno);
    uint32_t status = 0;
    for (uint8_t i = 0; i < 32; ++i)
        if (claimed & (1u << i))
            claimLocked(i, &status);
    return reset;
}

void CardFile::releaseAllLocked() {
    for (uint32_t i = 0; i < 32; ++i) {
        unsigned int interfaceNumber = i;
        if (claimed_ & (1u << i))
            ::ioctl(fd_, USBDEVFS_RELEASEINTERFACE, &interfaceNumber);
    }
    claimed_ = 0;
}

void CardFile::clearHalt(uint8_t endpoint) {
    unsigned int address = endpoint;
    ::ioctl(fd_, USBDEVFS_CLEAR_HALT, &address);
}

int CardFile::submit(Transfer &transfer) {
    transfer.urb.usercontext = &transfer;
    transfer.done = false;
    if (::ioctl(fd_, USBDEVFS_SUBMITURB, &transfer.urb) == 0)
        return 0;
    const int error = errno;
    noteError(error);
    transfer.done = true;
    return error;
}

void CardFile::discard(Transfer &transfer) { ::ioctl(fd_, USBDEVFS_DISCARDURB, &transfer.urb); }

// The file is ready when a URB has come back or the card is gone. A caught
// signal interrupts poll: the wait goes on, for only a cancel, a close or
// an unplug ends a request.
void CardFile::waitForCompletions() {
    pollfd ready{fd_, POLLOUT, 0};
    while (::poll(&ready, 1, -1) < 0 && errno == EINTR) {
    }
}

void CardFile::reapLocked() {
    while (true) {
        usbdevfs_urb *urb = nullptr;
        if (::ioctl(fd_, USBDEVFS_REAPURBNDELAY, &urb) != 0) {
            noteError(errno); // EAGAIN: nothing more has come back
            return;
        }
        static_cast<Transfer *>(urb->usercontext)->done = true;
    }
}

void CardFile::await(Transfer &transfer) {
    std::unique_lock lock(mutex_);
    while (!transfer.done) {
        if (gone()) { // everything submitted has been reaped
            transfer.urb.status = -ENODEV;
            transfer.done = true;
            break;
        }
        if (reaping_) {
            reaped_.wait(lock);
            continue;
        }
        reaping_ = true;
        lock.unlock();
        waitForCompletions();
        lock.lock();
        reapLocked();
        reaping_ = false;
        reaped_.notify_all();
    }
}

} // namespace kvd::platform::usb
