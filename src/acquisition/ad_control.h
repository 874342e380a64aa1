// AD acquisition control: set-up and start, block reads, the stop, and the
// trigger level. Nothing here allocates: packets and the set-up's first read
// live on the stack, samples go straight into the caller's buffer.
#pragma once

#include <cstdint>

#include "KVD4093.h"

namespace kvd::acquisition {

// The longest the stop waits for a pending read before it stops the card.
constexpr uint32_t kStopWaitMs = 2000;

int32_t initDeviceAD(KVD4093_HANDLE handle, const ADPara *para);
int32_t readDeviceAD(KVD4093_HANDLE handle, uint16_t *samples, uint32_t sampleCount, uint32_t *samplesRead);
int32_t releaseDeviceAD(KVD4093_HANDLE handle);
int32_t setDeviceTrigLevel(KVD4093_HANDLE handle, int32_t level);
// The level byte sent for a trigger level: trunc(level x 0.0256), at most
// 255; a negative level sends 0.
uint8_t triggerLevelByte(int32_t level);

} // namespace kvd::acquisition
