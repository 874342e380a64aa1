// The library's pairs: KVD4093_USB_IDS when set (its syntax: tests/facts).
#include <gtest/gtest.h>

#include "platform/usb/usb_ids.h"
#include "support/scoped_variable.h"

namespace kvd::platform::usb {
namespace {

TEST(UsbIdsTest, TheVariableNamesThePairsAndAMalformedOneMatchesNothing) {
    {
        kvd::testing::ScopedVariable ids(facts::kUsbIdsVariable, "04b4:8613,1209:0001");
        EXPECT_EQ(configuredUsbIds(), (std::vector<UsbId>{{0x04b4, 0x8613}, {0x1209, 0x0001}}));
    }
    kvd::testing::ScopedVariable malformed(facts::kUsbIdsVariable, "nonsense");
    EXPECT_TRUE(configuredUsbIds().empty());
}

} // namespace
} // namespace kvd::platform::usb
