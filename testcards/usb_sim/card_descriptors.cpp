#include "card_descriptors.h"

#include <cstddef>
#include <initializer_list>

namespace kvd::usbsim {
namespace {

constexpr uint8_t kAlternateSettings = 2;

void append(std::vector<uint8_t> &bytes, std::initializer_list<uint8_t> more) {
    for (uint8_t byte : more)
        bytes.push_back(byte);
}

void appendSetting(std::vector<uint8_t> &bytes, uint8_t alternateSetting) {
    append(bytes, {9, 0x04, 0, alternateSetting, uint8_t(kPipeEndpoints.size()), 0xFF, 0, 0, 0});
    for (uint8_t address : kPipeEndpoints)
        append(bytes, {7, 0x05, address, 0x02, uint8_t(kMaxPacket & 0xFF), uint8_t(kMaxPacket >> 8), 0});
}

} // namespace

std::vector<uint8_t> cardDescriptors(uint16_t vendor, uint16_t product) {
    std::vector<uint8_t> bytes;
    append(bytes, {18, 0x01, 0x00, 0x02, 0x00, 0x00, 0x00, 64, uint8_t(vendor), uint8_t(vendor >> 8), uint8_t(product),
                   uint8_t(product >> 8), 0x00, 0x01, 0, 0, 0, 1});
    const size_t config = bytes.size();
    append(bytes, {9, 0x02, 0, 0, 1, 1, 0, 0x80, 50});
    for (uint8_t a = 0; a < kAlternateSettings; ++a)
        appendSetting(bytes, a);
    const size_t total = bytes.size() - config;
    bytes[config + 2] = uint8_t(total);
    bytes[config + 3] = uint8_t(total >> 8);
    return bytes;
}

int32_t pipeOfEndpoint(uint8_t endpoint) {
    for (size_t pipe = 0; pipe < kPipeEndpoints.size(); ++pipe)
        if (kPipeEndpoints[pipe] == endpoint)
            return int32_t(pipe);
    return -1;
}

} // namespace kvd::usbsim
