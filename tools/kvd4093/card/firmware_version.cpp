#include "card/firmware_version.h"

#include <cstdio>

namespace kvd::tool {

std::string firmwareVersionText(uint32_t version) {
    char text[32];
    std::snprintf(text, sizeof text, "%u.%u.%u", (version >> 16) & 0xFF, (version >> 8) & 0xFF, version & 0xFF);
    return text;
}

std::string firmwareVersion(KVD4093_HANDLE card) {
    uint32_t version = 0;
    return KVD4093_GetDevVersion(card, &version, nullptr) ? firmwareVersionText(version) : std::string();
}

} // namespace kvd::tool
