#include "card/digital_io.h"

#include <algorithm>

#include "common/errors.h"

namespace kvd::tool {
namespace {

constexpr uint32_t kStatusBytes = 512;
constexpr uint32_t kStatusDaValues = 21; // bytes 21 to 36: the DA values of channels 0 to 7

} // namespace

uint16_t readDigitalInputs(KVD4093_HANDLE card) {
    uint8_t states[kDigitalLines] = {};
    if (!KVD4093_GetDeviceDI(card, states))
        failCall("KVD4093_GetDeviceDI");
    uint16_t lines = 0;
    for (int n = 0; n < kDigitalLines; ++n)
        lines = static_cast<uint16_t>(lines | (states[n] & 1) << n);
    return lines;
}

std::array<uint8_t, kDigitalLines> digitalStates(uint16_t lines) {
    std::array<uint8_t, kDigitalLines> states{};
    for (int n = 0; n < kDigitalLines; ++n)
        states[size_t(n)] = static_cast<uint8_t>((lines >> n) & 1);
    return states;
}

void setDigitalOutputs(KVD4093_HANDLE card, uint16_t lines) {
    if (!KVD4093_SetDeviceDO(card, digitalStates(lines).data()))
        failCall("KVD4093_SetDeviceDO");
}

std::optional<DaValues> readReportedDaValues(KVD4093_HANDLE card) {
    uint8_t status[kStatusBytes] = {};
    uint32_t returned = 0;
    if (!BulkRead(card, KVD4093_PIPE_STATUS, status, kStatusBytes, &returned))
        failCall("BulkRead");
    if (returned < kStatusDaValues + 2 * kDaChannels)
        return std::nullopt;
    DaValues values{};
    for (int c = 0; c < kDaChannels; ++c) {
        const uint32_t at = kStatusDaValues + 2 * uint32_t(c);
        values[size_t(c)] = static_cast<uint16_t>(status[at] | status[at + 1] << 8);
    }
    if (std::all_of(values.begin(), values.end(), [](uint16_t v) { return v == 0; }))
        return std::nullopt;
    return values;
}

} // namespace kvd::tool
