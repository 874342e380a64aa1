#include "acquisition/ad_para_encoding.h"

#include "card_model/driver_protocol.h"
#include "facts/scan_rate.h"

namespace kvd::acquisition {
namespace {

constexpr double kTicksPerMicrosecond = 10.0;

void putLe32(uint8_t *bytes, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint8_t modeByte(const ADPara &para) {
    return static_cast<uint8_t>((para.ADMode & 1) | (para.TriggerMode & 3) << 1 | (para.TriggerType & 1) << 3 |
                                (para.TriggerDir & 3) << 4 | (para.ClockSource & 1) << 6 |
                                (para.bClockOutput & 1) << 7);
}

} // namespace

uint16_t rangeWord(const ADPara &para) {
    return static_cast<uint16_t>(0xA000 + (para.InputRange & 3) * 0x800 + (para.GroundingMode & 1));
}

uint32_t groupIntervalTicks(int32_t groupInterval) {
    return static_cast<uint32_t>(static_cast<int64_t>(static_cast<double>(groupInterval) * kTicksPerMicrosecond));
}

void buildConfigPacket(const ADPara &para, uint8_t *packet) {
    packet[0] = protocol::kCmdAdConfig;
    packet[1] = static_cast<uint8_t>(para.FirstChannel);
    packet[2] = static_cast<uint8_t>(para.LastChannel);
    packet[3] = modeByte(para);
    packet[4] = static_cast<uint8_t>(para.TriggerSource & 1);
    putLe32(packet + 5, facts::periodDivider(para.Frequency));
    putLe32(packet + 9, groupIntervalTicks(para.GroupInterval));
    packet[13] = static_cast<uint8_t>(para.LoopsOfGroup);
    packet[14] = static_cast<uint8_t>(para.LoopsOfGroup >> 8);
    packet[15] = static_cast<uint8_t>(para.Gains & 3);
    packet[16] = static_cast<uint8_t>(para.CheckStsMode);
    packet[17] = static_cast<uint8_t>(para.TrigWindow);
}

void buildStopConfigPacket(const ADPara &para, uint8_t *packet) {
    ADPara forced = para;
    forced.TriggerMode = 0;
    forced.TriggerSource = 0;
    forced.ClockSource = 0;
    buildConfigPacket(forced, packet);
    putLe32(packet + 5, kStopDivider);
}

} // namespace kvd::acquisition
