// The vendor:product pairs that make a USB device a card.
#include "platform/usb/usb_ids.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

namespace kvd::platform::usb {

#ifndef KVD4093_DEFAULT_USB_IDS
#define KVD4093_DEFAULT_USB_IDS ""
#endif

std::vector<UsbId> configuredUsbIds() {
    const char *value = std::getenv(facts::kUsbIdsVariable);
    const char *text = value ? value : KVD4093_DEFAULT_USB_IDS;
    std::vector<UsbId> ids;
    if (*text == '\0')
        return ids;
    std::string error;
    if (!facts::parseUsbIds(text, &ids, &error)) {
        static std::once_flag said;
        std::call_once(said, [&] {
            std::fprintf(stderr, "%s: %s; no USB device matches\n", facts::kUsbIdsVariable, error.c_str());
        });
    }
    return ids;
}

} // namespace kvd::platform::usb
