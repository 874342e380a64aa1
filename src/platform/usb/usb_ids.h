// Which USB devices are cards: the vendor:product pairs of KVD4093_USB_IDS
// (facts/usb_ids.h) or, when it is unset, those this library was built with.
#pragma once

#include <vector>

#include "facts/usb_ids.h"

namespace kvd::platform::usb {

using facts::UsbId;

// The pairs of KVD4093_USB_IDS when it is set, else the built-in list (empty
// unless the build named pairs). A malformed value matches no device and says
// why once on standard error.
std::vector<UsbId> configuredUsbIds();

} // namespace kvd::platform::usb
