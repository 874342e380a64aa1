// The list of virtual cards a process asks for in KVD4093_VIRTUAL_CARDS.
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/virtual/card_registry.h"
#include "platform/virtual/virtual_card.h"

namespace kvd::vcard {
namespace {

constexpr std::string_view kBlanks = " \t";
constexpr unsigned kHighestId = 255;

std::string_view trimmed(std::string_view text) {
    const size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

// The blank-trimmed texts between commas; none for a blank text.
std::vector<std::string_view> entriesOf(std::string_view text) {
    std::vector<std::string_view> entries;
    if (trimmed(text).empty())
        return entries;
    for (size_t start = 0;;) {
        const size_t comma = text.find(',', start);
        entries.push_back(trimmed(text.substr(start, comma - start)));
        if (comma == std::string_view::npos)
            return entries;
        start = comma + 1;
    }
}

std::optional<uint8_t> parseId(std::string_view text) {
    if (text.empty())
        return std::nullopt;
    unsigned value = 0;
    for (char digit : text) {
        if (digit < '0' || digit > '9')
            return std::nullopt;
        value = value * 10 + static_cast<unsigned>(digit - '0');
        if (value > kHighestId)
            return std::nullopt;
    }
    return static_cast<uint8_t>(value);
}

std::string whyNot(size_t entry, std::string_view text) {
    const std::string position = "entry " + std::to_string(entry);
    if (text.empty())
        return position + " is empty";
    return position + " (\"" + std::string(text) + "\") is not a number from 0 to 255";
}

std::vector<uint8_t> readEnvironmentCards() {
    std::vector<uint8_t> ids;
    std::string error;
    if (!parseCardList(platform::environmentVariable(kEnvironmentVariable), &ids, &error))
        std::fprintf(stderr, "%s ignored: %s\n", kEnvironmentVariable, error.c_str());
    return ids;
}

} // namespace

bool parseCardList(const char *text, std::vector<uint8_t> *ids, std::string *error) {
    std::vector<uint8_t> parsed;
    const std::vector<std::string_view> entries = entriesOf(text != nullptr ? text : "");
    for (size_t i = 0; i < entries.size(); ++i) {
        const std::optional<uint8_t> id = parseId(entries[i]);
        if (!id) {
            if (ids != nullptr)
                ids->clear();
            if (error != nullptr)
                *error = whyNot(i + 1, entries[i]);
            return false;
        }
        parsed.push_back(*id);
    }
    if (ids != nullptr)
        *ids = std::move(parsed);
    return true;
}

const std::vector<uint8_t> &environmentCards() {
    static const std::vector<uint8_t> ids = readEnvironmentCards();
    return ids;
}

namespace {

// "amplitude[,seed]": amplitude 0 to 32767 codes, seed a 32-bit number.
bool parseNoise(std::string_view text, Noise *noise) {
    const size_t comma = text.find(',');
    const std::string amplitude(trimmed(text.substr(0, comma)));
    const std::string seed(comma == std::string_view::npos ? "1" : trimmed(text.substr(comma + 1)));
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
    const std::string digits(trimmed(text));
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
