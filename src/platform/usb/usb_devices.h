// The process's libusb context and the cards among the USB devices present.
#pragma once

#include <cstdint>
#include <vector>

#include <libusb.h>

namespace kvd::platform::usb {

// The process's libusb context, started on first use; nullptr when libusb
// cannot start (no USB device file system, as in many containers).
libusb_context *context();

// The errno value that stands for a libusb error code.
uint32_t errnoOf(int libusbError);

// The present devices whose vendor:product pair is configured, ordered by
// bus number, then port path: the cards' logical numbers. Holds a reference
// to each device while it lives.
class MatchingDevices {
public:
    MatchingDevices();
    ~MatchingDevices();
    MatchingDevices(const MatchingDevices &) = delete;
    MatchingDevices &operator=(const MatchingDevices &) = delete;

    // The errno value of a failed enumeration, 0 when it worked.
    uint32_t status() const { return status_; }
    const std::vector<libusb_device *> &devices() const { return devices_; }

private:
    std::vector<libusb_device *> devices_;
    uint32_t status_ = 0;
};

} // namespace kvd::platform::usb
