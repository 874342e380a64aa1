// How an ADPara record reaches the card: the range word, the configuration
// packet, the period divider and the group interval in ticks. Every field is
// narrowed to its bits, never clamped.
#pragma once

#include <cstdint>

#include "KVD4093.h"

namespace kvd::acquisition {

// The first range word of every set-up and stop.
constexpr uint16_t kFixedRangeWord = 0x8020;
// The divider the stop runs the card at before it stops: 6.7 us, about 149 kHz.
constexpr uint32_t kStopDivider = 67;
// Bytes of the configuration packet that carry something (code and payload).
constexpr uint32_t kConfigPacketBytes = 18;

// 0xA000 + InputRange (2 bits) x 0x800 + GroundingMode (1 bit).
uint16_t rangeWord(const ADPara &para);
// trunc(GroupInterval x 10): the interval in 100 ns ticks, low 32 bits.
uint32_t groupIntervalTicks(int32_t groupInterval);

// Fills bytes 0 to 17 of a configuration packet for a set-up.
void buildConfigPacket(const ADPara &para, uint8_t *packet);
// The same for the stop: trigger mode, trigger source and clock source
// forced to 0, and the fixed fast divider.
void buildStopConfigPacket(const ADPara &para, uint8_t *packet);

} // namespace kvd::acquisition
