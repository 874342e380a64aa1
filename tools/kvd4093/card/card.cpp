#include "card/card.h"

#include <cstdio>
#include <string_view>

#include "common/errors.h"
#include "common/system.h"

namespace kvd::tool {

const char kCardOptionsHelp[] =
    "  --card N               the card with logical number N (its place in the order of\n"
    "                         plugging in; 0 when no card is chosen)\n"
    "  --id P                 the card whose physical ID (set on the card) is P\n"
    "  --virtual[=IDS]        use virtual cards with these physical IDs, e.g. --virtual=7,9,5\n"
    "                         (a bare --virtual: one card with ID 0), as KVD4093_VIRTUAL_CARDS\n";

CardChoice takeCardChoice(Arguments &arguments) {
    const std::optional<std::string> logical = arguments.value("card");
    const std::optional<std::string> physical = arguments.value("id");
    if (logical && physical)
        throw UsageError("give --card or --id, not both");
    CardChoice choice;
    choice.given = logical || physical;
    if (logical)
        choice.number = static_cast<int32_t>(parseNumberIn(*logical, "--card", 0, INT32_MAX));
    if (physical) {
        choice.byPhysicalId = true;
        choice.number = static_cast<int32_t>(parseNumberIn(*physical, "--id", 0, 255));
    }
    return choice;
}

namespace {

constexpr std::string_view kVirtualOption = "--virtual";
constexpr std::string_view kVirtualWithIds = "--virtual=";
constexpr std::string_view kOneCard = "0"; // a bare --virtual

void checkVirtualIds(const std::string &ids) {
    if (!isVirtualCardList(ids))
        throw UsageError("--virtual: \"" + ids + "\" is not a list of IDs 0 to 255 such as 7,9,5");
}

} // namespace

bool isVirtualCardList(const std::string &ids) {
    size_t start = 0;
    for (;;) {
        const size_t comma = ids.find(',', start);
        const std::string id = ids.substr(start, comma - start);
        if (id.empty() || id.find_first_not_of("0123456789") != std::string::npos || id.size() > 3 ||
            std::stoi(id) > 255)
            return false;
        if (comma == std::string::npos)
            return true;
        start = comma + 1;
    }
}

void takeVirtualOption(std::vector<std::string> &words) {
    std::optional<std::string> ids;
    for (auto word = words.begin(); word != words.end();) {
        if (*word == kVirtualOption) {
            ids.emplace(kOneCard);
        } else if (std::string_view(*word).substr(0, kVirtualWithIds.size()) == kVirtualWithIds) {
            ids.emplace(word->substr(kVirtualWithIds.size()));
            checkVirtualIds(*ids);
        } else {
            ++word;
            continue;
        }
        word = words.erase(word);
    }
    if (ids)
        setEnvironment("KVD4093_VIRTUAL_CARDS", ids->c_str());
}

OpenCard::OpenCard(const CardChoice &choice) {
    if (choice.byPhysicalId) {
        handle_ = KVD4093_CreateDeviceEx(choice.number);
        if (handle_ == KVD4093_INVALID_HANDLE)
            failCall("KVD4093_CreateDeviceEx");
    } else {
        handle_ = KVD4093_CreateDevice(choice.number);
        if (handle_ == KVD4093_INVALID_HANDLE)
            failCall("KVD4093_CreateDevice");
        if (handle_ == nullptr) // opened, but the card did not take its open packet
            failCall("KVD4093_CreateDevice", "KVD4093_WriteDeviceDA");
    }
    if (!KVD4093_GetDeviceCurrentID(handle_, &logicalNumber_, &physicalId_)) {
        KVD4093_ReleaseDevice(handle_);
        failCall("KVD4093_GetDeviceCurrentID");
    }
}

OpenCard::~OpenCard() {
    if (!KVD4093_ReleaseDevice(handle_))
        std::fprintf(stderr, "kvd4093: KVD4093_ReleaseDevice failed: %s\n",
                     libraryMessage("KVD4093_ReleaseDevice").c_str());
}

std::string OpenCard::name() const {
    return "card " + std::to_string(logicalNumber_) + " (physical ID " + std::to_string(physicalId_) + ")";
}

} // namespace kvd::tool
