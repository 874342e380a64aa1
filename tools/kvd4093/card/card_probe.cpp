#include "card/card_probe.h"

#include <cstdio>

namespace kvd::tool {

std::string versionText(uint32_t version) {
    char text[32];
    std::snprintf(text, sizeof text, "%u.%u.%u", (version >> 16) & 0xFF, (version >> 8) & 0xFF, version & 0xFF);
    return text;
}

CardProbe describeOpenCard(KVD4093_HANDLE card, int32_t number) {
    CardProbe probe;
    probe.number = number;
    probe.answers = true;
    int32_t logical = number, physical = -1;
    if (KVD4093_GetDeviceCurrentID(card, &logical, &physical))
        probe.physicalId = physical;
    uint32_t version = 0;
    if (KVD4093_GetDevVersion(card, &version, nullptr))
        probe.version = version;
    return probe;
}

std::optional<CardProbe> probeCard(int32_t n) {
    KVD4093_HANDLE card = KVD4093_CreateDevice(n);
    if (card == KVD4093_INVALID_HANDLE)
        return std::nullopt;
    if (card == nullptr) { // opened, but the card did not take its open packet
        CardProbe probe;
        probe.number = n;
        return probe;
    }
    const CardProbe probe = describeOpenCard(card, n);
    KVD4093_ReleaseDevice(card);
    return probe;
}

} // namespace kvd::tool
