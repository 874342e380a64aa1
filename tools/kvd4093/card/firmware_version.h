// A card's firmware version as the tool shows it: "major.minor.patch" from
// the low three bytes KVD4093_GetDevVersion gives.
#pragma once

#include <cstdint>
#include <string>

#include "KVD4093.h"

namespace kvd::tool {

std::string firmwareVersionText(uint32_t version);
// The open card's version; empty when the card does not say.
std::string firmwareVersion(KVD4093_HANDLE card);

} // namespace kvd::tool
