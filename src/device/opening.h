// Finding, opening, identifying and closing cards.
#pragma once

#include <cstdint>
#include <string>

#include "KVD4093.h"

namespace kvd::device {

// Opens the card at a logical number and sends it the open packet.
// -1 when no card can be opened there; null when the card did not take the
// open packet (its driver file is then closed again).
KVD4093_HANDLE createDevice(int32_t logicalNumber);
// Searches logical numbers 0 to 31 for a card with a physical ID; -1 when none.
KVD4093_HANDLE createDeviceEx(int32_t physicalId);
// Closes the driver file and frees the record (transport.h: releaseHandle);
// 0 when the handle is dead, or, with an entry in the log, when the calls on
// it did not end in time or the close failed (the handle then stays live).
int32_t releaseDevice(KVD4093_HANDLE handle);
int32_t deviceCount(KVD4093_HANDLE handle);
int32_t deviceCurrentId(KVD4093_HANDLE handle, int32_t *logicalNumber, int32_t *physicalId);
int32_t devVersion(KVD4093_HANDLE handle, uint32_t *version, uint32_t *secondWord);
// The physical ID from the second of two status reads; -1 when a read fails.
int32_t readPhysicalId(KVD4093_HANDLE handle);

// The device list report's text, as the message box shows it.
std::string deviceListReport();

} // namespace kvd::device
