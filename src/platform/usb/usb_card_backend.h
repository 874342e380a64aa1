// The OS card backend on Linux: the cards on USB, through libusb-1.0.
#pragma once

#include "platform/platform.h"

namespace kvd::platform::usb {

// The backend's ops table (also osCardBackend() on Linux).
const CardBackend &usbCardBackend();

} // namespace kvd::platform::usb
