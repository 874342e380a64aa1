// The usbfs requests on an emulated card's device file, served by umockdev:
// a UMockdevIoctlBase whose handle_ioctl answers what libusb asks of usbfs
// (capabilities, claiming, interface selection, reset, URBs) from a UrbEngine.
#pragma once

#include <umockdev.h>

#include "urb_engine.h"

namespace kvd::usbsim {

// A new handler serving the engine, which must outlive it; unref when done.
UMockdevIoctlBase *newUsbCardHandler(UrbEngine *engine);

} // namespace kvd::usbsim
