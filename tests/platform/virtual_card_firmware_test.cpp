// The virtual card's firmware: the packet fields that only it keeps.
#include "platform/virtual/firmware.h"

#include <gtest/gtest.h>

#include <vector>

namespace kvd::vcard {
namespace {

void take(Firmware &firmware, std::vector<uint8_t> packet) {
    firmware.takeAdCommand(packet.data(), static_cast<uint32_t>(packet.size()));
}

TEST(VirtualCardFirmware, RangeAndConfigurationPackets) {
    Firmware firmware(3);
    take(firmware, {0x01, 0x20, 0x80});
    EXPECT_EQ(firmware.rangeWord(), 0x8020);
    take(firmware, {0x01, 0x01, 0xB0});
    EXPECT_EQ(firmware.rangeWord(), 0xB001);

    // The default set-up's configuration packet.
    take(firmware, {0x02, 0x00, 0x01, 0x00, 0x00, 0x90, 0x01, 0x00, 0x00, 0x10, 0x27, 0x00, 0x00, 0x01, 0x00, 0x00,
                    0x00, 0x0A});
    EXPECT_EQ(firmware.firstChannel(), 0);
    EXPECT_EQ(firmware.lastChannel(), 1);
    EXPECT_EQ(firmware.divider(), 400u);
    EXPECT_FALSE(firmware.running());
}

TEST(VirtualCardFirmware, ShortPacketReadsAsZeroFilled) {
    Firmware firmware(3);
    take(firmware, {0x02, 0x04, 0x06, 0x00, 0x00, 0x43});
    EXPECT_EQ(firmware.lastChannel(), 6);
    EXPECT_EQ(firmware.divider(), 0x43u);
    take(firmware, {0x02, 0x04});
    EXPECT_EQ(firmware.lastChannel(), 0);
    EXPECT_EQ(firmware.divider(), 0u);
    take(firmware, {});
    take(firmware, {0x7F, 0x01}); // unknown code: ignored
    EXPECT_EQ(firmware.firstChannel(), 4);
}

} // namespace
} // namespace kvd::vcard
