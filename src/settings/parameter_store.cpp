#include "settings/parameter_store.h"

#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "KVD4093_ad_fields.h"
#include "device/opening.h"
#include "core/messages.h"
#include "platform/platform.h"

namespace kvd::settings {
namespace {

using fields::kAdFields;

// The save's order: the field order with TriggerType before TriggerSource.
constexpr size_t kSaveOrder[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 11, 10, 12, 13, 14, 15, 16};
static_assert(std::size(kSaveOrder) == std::size(kAdFields));

constexpr char kRoot[] = "";

struct CardNumbers {
    int32_t logical = 0;
    int32_t physical = 0;
};

// The card's numbers, or 0 and 0 when they cannot be read (the query logs
// its own failure).
CardNumbers cardNumbers(KVD4093_HANDLE handle) {
    CardNumbers numbers;
    if (device::deviceCurrentId(handle, &numbers.logical, &numbers.physical) != 1)
        numbers = CardNumbers{};
    return numbers;
}

std::string section(const char *format, int32_t number) {
    char name[64];
    std::snprintf(name, sizeof name, format, static_cast<int>(number));
    return name;
}

std::string adParaSection(KVD4093_HANDLE handle) {
    return section(text::kAdParaSectionFormat, cardNumbers(handle).physical);
}

std::string othersSection(KVD4093_HANDLE handle) {
    return section(text::kOthersSectionFormat, cardNumbers(handle).logical);
}

// Bytes of text that fit in size - 1 without splitting a GBK character.
size_t fittingLength(const std::string &text, size_t room) {
    size_t length = 0;
    while (length < text.size()) {
        const auto byte = static_cast<unsigned char>(text[length]);
        const size_t step = (byte >= 0x81 && byte <= 0xFE && length + 1 < text.size()) ? 2 : 1;
        if (length + step > room)
            break;
        length += step;
    }
    return length;
}

} // namespace

int32_t saveParaAD(KVD4093_HANDLE handle, const ADPara *record) {
    if (record == nullptr)
        return 0;
    // Two batches, each landing as one change where the store can, with the
    // number query between them where the one-by-one order has it.
    const platform::ProfileWrite root[] = {
        {kRoot, "CompanyName", 0, text::kCompanyName},
        {kRoot, "CardType", 0, text::kCardType},
    };
    if (platform::writeProfileValues(root, std::size(root)) != std::size(root))
        return 0;
    const CardNumbers numbers = cardNumbers(handle);
    const std::string device = section(text::kDeviceSectionFormat, 0);
    const std::string adPara = section(text::kAdParaSectionFormat, numbers.physical);
    std::vector<platform::ProfileWrite> card{
        {device.c_str(), "DevicePhysID", numbers.physical, nullptr},
        {device.c_str(), "DeviceLgcID", numbers.logical, nullptr},
    };
    for (size_t index : kSaveOrder)
        card.push_back({adPara.c_str(), kAdFields[index].name, record->*kAdFields[index].member, nullptr});
    return platform::writeProfileValues(card.data(), card.size()) == card.size() ? 1 : 0;
}

int32_t loadParaAD(KVD4093_HANDLE handle, ADPara *record) {
    const std::string adPara = adParaSection(handle);
    if (record == nullptr)
        return 1;
    // One look at the settings for all the fields, however large the file.
    platform::ProfileRead reads[std::size(kAdFields)];
    for (size_t i = 0; i < std::size(kAdFields); ++i)
        reads[i] = {kAdFields[i].name, kAdFields[i].defaultValue, 0};
    platform::profileInts(adPara.c_str(), reads, std::size(reads));
    for (size_t i = 0; i < std::size(kAdFields); ++i)
        record->*kAdFields[i].member = reads[i].value;
    return 1;
}

int32_t resetParaAD(KVD4093_HANDLE handle, ADPara *record) {
    platform::deleteProfileSection(adParaSection(handle).c_str()); // a section already gone is fine
    return loadParaAD(handle, record);
}

int32_t saveParaInt(KVD4093_HANDLE handle, const char *name, int32_t value) {
    const std::string others = othersSection(handle);
    if (name == nullptr)
        return 0;
    return platform::writeProfileInt(others.c_str(), name, value) ? 1 : 0;
}

int32_t loadParaInt(KVD4093_HANDLE handle, const char *name, int32_t defaultValue) {
    const std::string others = othersSection(handle);
    if (name == nullptr)
        return defaultValue;
    return platform::profileInt(others.c_str(), name, defaultValue);
}

int32_t saveParaString(KVD4093_HANDLE handle, const char *name, const char *text) {
    const std::string others = othersSection(handle);
    if (name == nullptr || text == nullptr)
        return 0;
    return platform::writeProfileString(others.c_str(), name, text) ? 1 : 0;
}

int32_t loadParaString(KVD4093_HANDLE handle, const char *name, char *buffer, const char *defaultText) {
    const std::string others = othersSection(handle);
    if (buffer == nullptr)
        return 1;
    const char *fallback = defaultText != nullptr ? defaultText : "";
    const std::string found = name != nullptr ? platform::profileString(others.c_str(), name, fallback) : fallback;
    std::memcpy(buffer, found.c_str(), found.size() + 1); // the bytes as stored, never read as a format
    return 1;
}

int32_t appPath(char *buffer, int32_t size) {
    if (buffer == nullptr || size <= 0)
        return 1;
    const std::string folder = platform::profileString(kRoot, "AppPath", text::kDefaultAppPath);
    const size_t length = fittingLength(folder, static_cast<size_t>(size) - 1);
    std::memcpy(buffer, folder.data(), length);
    buffer[length] = '\0';
    return 1;
}

} // namespace kvd::settings
