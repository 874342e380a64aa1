// KVD4093_USB_IDS's syntax and the USB logical order, as the library and the tool both read them.
#include <gtest/gtest.h>

#include "facts/usb_ids.h"

namespace kvd::facts {
namespace {

// A valid list is written back in the library's own spelling.
TEST(UsbIds, ParsesPairsAndRefusesWhatIsNotOne) {
    const struct {
        const char *text;
        std::vector<UsbId> ids; // none: refused
        const char *formatted;
    } cases[] = {
        {"1209:0001", {{0x1209, 0x0001}}, "1209:0001"},
        {"1209:0001,04b4:8613", {{0x1209, 0x0001}, {0x04b4, 0x8613}}, "1209:0001,04b4:8613"},
        {" 1209:1 , ABCD:ef01 ", {{0x1209, 0x0001}, {0xabcd, 0xef01}}, "1209:0001,abcd:ef01"},
        {"", {}, ""},          {"1209", {}, ""},       {"1209:", {}, ""},
        {"12345:0001", {}, ""}, {"1209:0001,", {}, ""}, {"1209:0001;04b4:8613", {}, ""},
        {"g209:0001", {}, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        const bool valid = !c.ids.empty();
        std::vector<UsbId> ids{{1, 1}};
        std::string error;
        EXPECT_EQ(parseUsbIds(c.text, &ids, &error), valid);
        EXPECT_EQ(ids, c.ids);
        EXPECT_EQ(error.empty(), valid);
        if (valid) {
            EXPECT_EQ(formatUsbIds(ids), c.formatted);
        }
    }
}

// Devices sort by bus first, then port by port, a device on a hub after the
// hub's own port and before the next one.
TEST(UsbPlace, SortsByBusThenPortPath) {
    struct Place {
        uint8_t bus;
        std::vector<uint8_t> ports;
    };
    const Place ascending[] = {{1, {1}}, {1, {1, 1}}, {1, {1, 4, 2}}, {1, {2}}, {1, {10}}, {2, {}}, {2, {1}},
                               {3, {1, 2, 3, 4, 5, 6, 7}}, {3, {1, 2, 3, 4, 5, 6, 8}}};
    for (size_t i = 1; i < std::size(ascending); ++i) {
        const Place &before = ascending[i - 1], &after = ascending[i];
        EXPECT_LT(usbPlace(before.bus, before.ports.data(), int(before.ports.size())),
                  usbPlace(after.bus, after.ports.data(), int(after.ports.size())))
            << "place " << i;
    }
}

} // namespace
} // namespace kvd::facts
