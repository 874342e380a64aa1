// The vendor:product pairs of KVD4093_USB_IDS.
#include <gtest/gtest.h>

#include "platform/usb/usb_ids.h"
#include "support/scoped_variable.h"

namespace kvd::platform::usb {
namespace {

TEST(UsbIdsTest, ParsesPairsAndRefusesWhatIsNotOne) {
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

TEST(UsbIdsTest, TheVariableNamesThePairsAndAMalformedOneMatchesNothing) {
    {
        kvd::testing::ScopedVariable ids(kIdsVariable, "04b4:8613,1209:0001");
        EXPECT_EQ(configuredUsbIds(), (std::vector<UsbId>{{0x04b4, 0x8613}, {0x1209, 0x0001}}));
        EXPECT_EQ(formatUsbIds(configuredUsbIds()), "04b4:8613,1209:0001");
    }
    kvd::testing::ScopedVariable malformed(kIdsVariable, "nonsense");
    EXPECT_TRUE(configuredUsbIds().empty());
}

} // namespace
} // namespace kvd::platform::usb
