// KVD4093_USB_IDS: the vendor:product pairs that make a USB device a card.
// The card library matches devices against them; the tool reads them to say
// which devices it looked for.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kvd::facts {

constexpr char kUsbIdsVariable[] = "KVD4093_USB_IDS";

struct UsbId {
    uint16_t vendor = 0;
    uint16_t product = 0;
    bool operator==(const UsbId &) const = default;
};

// Parses "vvvv:pppp[,vvvv:pppp...]" (hex, one to four digits each, blanks
// allowed around a pair). Returns false, leaves *ids empty and says why in
// *error when malformed.
bool parseUsbIds(const char *text, std::vector<UsbId> *ids, std::string *error);

// The pairs as the variable spells them, "1209:0001,1209:0002".
std::string formatUsbIds(const std::vector<UsbId> &ids);

// Where a USB device is plugged in, as one number that sorts by bus, then
// port path: the order of the cards' logical numbers. `ports` holds `depth`
// port numbers, hub tier by hub tier; tiers past the seventh are not counted.
uint64_t usbPlace(uint8_t bus, const uint8_t *ports, int depth);

} // namespace kvd::facts
