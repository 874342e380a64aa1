// KVD4093_USB_IDS's syntax and the USB logical order, as the library and the tool both read them.
#include <gtest/gtest.h>

#include "facts/usb_ids.h"

namespace kvd::facts {
namespace {

TEST(UsbIds, ParsesPairsAndRefusesWhatIsNotOne) {
    const struct {
        const char *text;
        bool valid;
        std::vector<UsbId> ids;
    } cases[] = {
        {"1209:0001", true, {{0x1209, 0x0001}}},
        {"1209:0001,04b4:8613", true, {{0x1209, 0x0001}, {0x04b4, 0x8613}}},
        {" 1209:1 , ABCD:ef01 ", true, {{0x1209, 0x0001}, {0xabcd, 0xef01}}},
        {"", false, {}},
        {"1209", false, {}},
        {"1209:", false, {}},
        {"12345:0001", false, {}},
        {"1209:0001,", false, {}},
        {"1209:0001;04b4:8613", false, {}},
        {"g209:0001", false, {}},
    };
    for (const auto &c : cases) {
        std::vector<UsbId> ids{{1, 1}};
        std::string error;
        EXPECT_EQ(parseUsbIds(c.text, &ids, &error), c.valid) << c.text;
        EXPECT_EQ(ids, c.ids) << c.text;
        EXPECT_EQ(error.empty(), c.valid) << c.text;
    }
}

TEST(UsbIds, FormatsWhatItParses) {
    for (const char *text : {"1209:0001", "04b4:8613,1209:0001", "abcd:ef01,0000:ffff,0001:0002"}) {
        std::vector<UsbId> ids;
        std::string error;
        ASSERT_TRUE(parseUsbIds(text, &ids, &error)) << text;
        EXPECT_EQ(formatUsbIds(ids), text);
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
