// DA output and the 16 digital outputs and inputs.
#pragma once

#include <cstdint>

#include "KVD4093.h"

namespace kvd::acquisition {

// Sends a channel's setup word, then its value word; 1 when both went out.
int32_t writeDeviceDA(KVD4093_HANDLE handle, int32_t setupCode, int32_t value, int32_t channel);
// Sets the 16 outputs from bit 0 of each of 16 bytes.
int32_t setDeviceDO(KVD4093_HANDLE handle, const uint8_t *states);
// Reads the 16 inputs into 16 bytes of 0 or 1; leaves them alone on failure.
int32_t getDeviceDI(KVD4093_HANDLE handle, uint8_t *states);

} // namespace kvd::acquisition
