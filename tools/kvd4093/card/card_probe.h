// What a card at a logical number says of itself: opened, asked for its
// physical ID and version, and closed again. `list` prints it, the panel
// shows it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "KVD4093.h"

namespace kvd::tool {

// The logical numbers a card may have.
constexpr int32_t kLogicalNumbers = 32;

struct CardProbe {
    int32_t number = 0;
    bool answers = false;              // it took its open packet
    std::optional<int32_t> physicalId; // nullopt when it could not be read
    std::optional<uint32_t> version;
};

// The card at logical number n, or nullopt when nothing opens there (which
// leaves an entry in the library's error log).
std::optional<CardProbe> probeCard(int32_t n);

// What an open card says of itself.
CardProbe describeOpenCard(KVD4093_HANDLE card, int32_t number);

// "1.0.1" of the version word 0x010001.
std::string versionText(uint32_t version);

} // namespace kvd::tool
