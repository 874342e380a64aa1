// The list of virtual cards a process asks for in KVD4093_VIRTUAL_CARDS.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "platform/virtual/card_registry.h"
#include "platform/virtual/virtual_card.h"
#include "facts/list_entries.h"
#include "facts/virtual_card_ids.h"

namespace kvd::vcard {
namespace {

using facts::kVirtualCardsVariable;
using facts::trimmedOfBlanks;

std::vector<uint8_t> readEnvironmentCards() {
    std::vector<uint8_t> ids;
    std::string error;
    if (!facts::parseVirtualCardIds(platform::environmentVariable(kVirtualCardsVariable), &ids, &error))
        std::fprintf(stderr, "%s ignored: %s\n", kVirtualCardsVariable, error.c_str());
    return ids;
}

} // namespace

const std::vector<uint8_t> &environmentCards() {
    static const std::vector<uint8_t> ids = readEnvironmentCards();
    return ids;
}

namespace {

// "amplitude[,seed]": amplitude 0 to 32767 codes, seed a 32-bit number.
bool parseNoise(std::string_view text, Noise *noise) {
    const size_t comma = text.find(',');
    const std::string amplitude(trimmedOfBlanks(text.substr(0, comma)));
    const std::string seed(comma == std::string_view::npos ? "1" : trimmedOfBlanks(text.substr(comma + 1)));
    char *end = nullptr;
    const unsigned long peak = std::strtoul(amplitude.c_str(), &end, 10);
    if (amplitude.empty() || *end != '\0' || peak > 32767)
        return false;
    const unsigned long long start = std::strtoull(seed.c_str(), &end, 10);
    if (seed.empty() || *end != '\0' || start > 0xFFFFFFFFull)
        return false;
    *noise = {static_cast<uint16_t>(peak), static_cast<uint32_t>(start)};
    return true;
}

// A count of samples: digits, optionally followed by k (x1024) or M (x1048576).
bool parseSampleCount(std::string_view text, uint64_t *count) {
    const std::string digits(trimmedOfBlanks(text));
    char *end = nullptr;
    const unsigned long long value = std::strtoull(digits.c_str(), &end, 10);
    const std::string_view suffix(end);
    const uint64_t scale = suffix.empty() ? 1 : suffix == "k" ? 1024 : suffix == "M" ? 1024 * 1024 : 0;
    if (digits.empty() || end == digits.c_str() || digits[0] == '-' || scale == 0 || value > (1ull << 40))
        return false;
    *count = value * scale;
    return true;
}

Behaviour readEnvironmentBehaviour() {
    Behaviour behaviour;
    behaviour.recording = false;
    behaviour.signals = Signals::Waveforms;
    const char *pacing = platform::environmentVariable(kPacingVariable);
    behaviour.paced = !(pacing != nullptr && std::string_view(pacing) == "off");
    const char *noise = platform::environmentVariable(kNoiseVariable);
    if (noise != nullptr && *noise != '\0' && !parseNoise(noise, &behaviour.noise))
        std::fprintf(stderr, "%s ignored: \"%s\" is not amplitude[,seed]\n", kNoiseVariable, noise);
    const char *memory = platform::environmentVariable(kMemoryVariable);
    if (memory != nullptr && *memory != '\0' && !parseSampleCount(memory, &behaviour.memorySamples))
        std::fprintf(stderr, "%s ignored: \"%s\" is not a number of samples such as 65536 or 64k\n",
                     kMemoryVariable, memory);
    return behaviour;
}

} // namespace

const Behaviour &environmentBehaviour() {
    static const Behaviour behaviour = readEnvironmentBehaviour();
    return behaviour;
}

const platform::CardBackend *backendFromEnvironment() {
    const std::vector<uint8_t> &ids = environmentCards();
    if (ids.empty())
        return nullptr;
    placeCardsOnce(ids);
    return &backend();
}

} // namespace kvd::vcard
