// The DA values and digital outputs a program writes through a stream's card,
// remembered so that a card opened again can be given them back.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <optional>

#include "KVD4093.h"

namespace kvd::stream {

class CardOutputs {
public:
    static constexpr int32_t kDAChannels = 8;
    static constexpr int32_t kDigitalOutputs = 16;

    // Writes through the card library and remembers what went out; the card
    // library's result.
    int32_t writeDA(KVD4093_HANDLE card, int32_t setupCode, int32_t value, int32_t channel);
    int32_t setDO(KVD4093_HANDLE card, const uint8_t *states);
    // Writes every remembered value to `card`, DA channels first; false when a
    // write failed.
    bool restore(KVD4093_HANDLE card) const;

private:
    struct DAWrite {
        int32_t setupCode;
        int32_t value;
    };
    mutable std::mutex mutex_; // the program's thread writes, the reader's restores
    std::array<std::optional<DAWrite>, kDAChannels> da_;
    std::optional<std::array<uint8_t, kDigitalOutputs>> digital_;
};

} // namespace kvd::stream
