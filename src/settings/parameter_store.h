// The parameter store: per-card settings in the per-user profile. The AD
// parameter record is filed under the card's physical ID, free values under
// its logical number, both 0 when the card's numbers cannot be read.
#pragma once

#include <cstdint>

#include "KVD4093.h"

namespace kvd::settings {

// Writes CompanyName and CardType in the root, the card's numbers in
// Device-0, then the 17 fields in Device-<physical ID>\ADPara, TriggerType
// before TriggerSource. 1 when all 21 writes succeeded; 0 at the first
// failed write, whose predecessors stay. The writes go to the profile in two
// batches (the root values, then the rest), each one change of the settings
// where the store can, with the same result as one by one. A null record
// writes nothing: 0.
int32_t saveParaAD(KVD4093_HANDLE handle, const ADPara *record);
// Fills all 17 fields from Device-<physical ID>\ADPara, each missing value
// with its default. A null record is left alone. Always 1.
int32_t loadParaAD(KVD4093_HANDLE handle, ADPara *record);
// Deletes Device-<physical ID>\ADPara, then loads (the defaults). Always 1.
int32_t resetParaAD(KVD4093_HANDLE handle, ADPara *record);

// Free values in Device-<logical number>\Others. A null name or text is not
// stored (0) and a null name loads the default.
int32_t saveParaInt(KVD4093_HANDLE handle, const char *name, int32_t value);
int32_t loadParaInt(KVD4093_HANDLE handle, const char *name, int32_t defaultValue);
int32_t saveParaString(KVD4093_HANDLE handle, const char *name, const char *text);
// Copies the stored text (or the default; a null default counts as "") with
// its zero into buffer, byte for byte, unbounded: the caller's buffer must
// hold the longest text it may find. A null buffer receives nothing. Always 1.
int32_t loadParaString(KVD4093_HANDLE handle, const char *name, char *buffer, const char *defaultText);

// Copies AppPath from the root (default "C:\OLM\KVD4093") into buffer,
// writing at most size bytes: a text too long is cut at a character
// boundary and still terminated. size <= 0 or a null buffer writes nothing.
// Always 1.
int32_t appPath(char *buffer, int32_t size);

} // namespace kvd::settings
