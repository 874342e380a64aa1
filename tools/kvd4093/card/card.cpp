#include "card/card.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

#include "card/virtual_cards.h"
#include "common/errors.h"
#include "common/system.h"
#include "facts/virtual_card_ids.h"

namespace kvd::tool {

Option virtualOption(std::string help) {
    return {.name = "virtual", .value = "IDS", .help = std::move(help), .valueOptional = true};
}

OptionGroup cardOptions(std::string heading) {
    return {std::move(heading),
            {{.name = "card",
              .letter = 'c',
              .value = "N",
              .help = "the card with logical number N (its place in the order of\n"
                      "plugging in; 0 when no card is chosen)"},
             {.name = "id", .value = "P", .help = "the card whose physical ID (set on the card) is P"},
             virtualOption("use virtual cards with these physical IDs, e.g. --virtual=7,9,5\n"
                           "(a bare --virtual: one card with ID 0), as KVD4093_VIRTUAL_CARDS")}};
}

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

std::vector<CardChoice> takeCardChoices(Arguments &arguments) {
    const std::optional<std::string> logical = arguments.value("card");
    const std::optional<std::string> physical = arguments.value("id");
    if (logical && physical)
        throw UsageError("give --card or --id, not both");
    if (!logical && !physical)
        return {CardChoice{}};
    const std::string &list = logical ? *logical : *physical;
    const char *option = logical ? "--card" : "--id";
    std::vector<CardChoice> choices;
    size_t begin = 0;
    for (;;) {
        const size_t end = std::min(list.find(',', begin), list.size());
        CardChoice choice{.given = true, .byPhysicalId = physical.has_value()};
        choice.number = static_cast<int32_t>(
            parseNumberIn(list.substr(begin, end - begin), option, 0, physical ? 255 : INT32_MAX));
        for (const CardChoice &earlier : choices)
            if (earlier.number == choice.number)
                throw UsageError(std::string(option) + ": " + std::to_string(choice.number) + " is listed twice");
        choices.push_back(choice);
        if (end == list.size())
            return choices;
        begin = end + 1;
    }
}

namespace {

constexpr std::string_view kOneCard = "0"; // a bare --virtual

// The IDs as KVD4093_VIRTUAL_CARDS takes them, at least one.
void checkVirtualIds(const std::string &ids) {
    if (!parseVirtualCards(ids).active())
        throw UsageError("--virtual: \"" + ids + "\" is not a list of IDs 0 to 255 such as 7,9,5");
}

std::string plural(size_t count, const char *noun) {
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

// The open of `function` found no card: on virtual cards the cause is the
// number or ID asked for, said plainly; otherwise the library's message,
// to which main adds what to do.
[[noreturn]] void failMissingCard(const CardChoice &choice, const char *function) {
    const VirtualCards cards = virtualCardsFromEnvironment();
    const auto &ids = cards.physicalIds;
    if (cards.active() && !choice.byPhysicalId && size_t(choice.number) >= ids.size())
        throw CallFailed("virtual card " + std::to_string(choice.number) + " does not exist: there " +
                         (ids.size() == 1 ? "is " : "are ") + plural(ids.size(), "virtual card") +
                         ", logical number 0" + (ids.size() == 1 ? "" : " to " + std::to_string(ids.size() - 1)) +
                         " (--virtual=IDS makes one card for each physical ID, e.g. --virtual=0,1,2,3)");
    if (cards.active() && choice.byPhysicalId && std::find(ids.begin(), ids.end(), choice.number) == ids.end())
        throw CallFailed("no virtual card has physical ID " + std::to_string(choice.number) +
                         ": the virtual cards' IDs are " + cards.idList() + " (--virtual=IDS chooses them)");
    if (cards.active())
        failCall(function);
    throw CardMissing(failureText(function) + (cards.malformed ? "\n" + cards.malformedNote() : ""));
}

} // namespace

void takeVirtualOption(Arguments &arguments) {
    if (!arguments.takes("virtual"))
        return;
    std::optional<std::string> ids = arguments.value("virtual");
    if (!ids)
        return;
    if (ids->empty())
        ids.emplace(kOneCard);
    else
        checkVirtualIds(*ids);
    setEnvironment(facts::kVirtualCardsVariable, ids->c_str());
}

OpenCard::OpenCard(const CardChoice &choice) {
    if (choice.byPhysicalId) {
        handle_ = KVD4093_CreateDeviceEx(choice.number);
        if (handle_ == KVD4093_INVALID_HANDLE)
            failMissingCard(choice, "KVD4093_CreateDeviceEx");
    } else {
        handle_ = KVD4093_CreateDevice(choice.number);
        if (handle_ == KVD4093_INVALID_HANDLE)
            failMissingCard(choice, "KVD4093_CreateDevice");
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
