// The emulated card's USB descriptors: one configuration, interface 0 with
// alternate settings 0 and 1, each with the card's four bulk endpoints in
// pipe order (two OUT command pipes, the IN AD data pipe, the IN status pipe).
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace kvd::usbsim {

constexpr std::array<uint8_t, 4> kPipeEndpoints{0x02, 0x04, 0x86, 0x88};
constexpr uint16_t kVendorId = 0x1209;  // pid.codes
constexpr uint16_t kProductId = 0x0001; // pid.codes' test product
// Every endpoint's wMaxPacketSize: a high-speed bulk endpoint's.
constexpr uint16_t kMaxPacket = 512;

// The device descriptor followed by the configuration descriptor with its
// interfaces and endpoints, as sysfs shows them in "descriptors".
std::vector<uint8_t> cardDescriptors(uint16_t vendor, uint16_t product);

// The pipe an endpoint address carries, -1 for none of the card's.
int32_t pipeOfEndpoint(uint8_t endpoint);

} // namespace kvd::usbsim
