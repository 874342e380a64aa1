// Which USB devices are cards: vendor:product pairs, from KVD4093_USB_IDS or,
// when it is unset, from the list this library was built with.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kvd::platform::usb {

// The variable that names the cards' vendor:product pairs.
constexpr char kIdsVariable[] = "KVD4093_USB_IDS";

struct UsbId {
    uint16_t vendor = 0;
    uint16_t product = 0;
    bool operator==(const UsbId &) const = default;
};

// Parses "vvvv:pppp[,vvvv:pppp...]" (hex, one to four digits each, blanks
// allowed around a pair). Returns false and says why in *error when malformed.
bool parseUsbIds(const char *text, std::vector<UsbId> *ids, std::string *error);

// The pairs of KVD4093_USB_IDS when it is set, else the built-in list (empty
// unless the build named pairs). A malformed value matches no device and says
// why once on standard error.
std::vector<UsbId> configuredUsbIds();

// The pairs as the variable spells them, "1209:0001,1209:0002".
std::string formatUsbIds(const std::vector<UsbId> &ids);

} // namespace kvd::platform::usb
