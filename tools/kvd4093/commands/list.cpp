// list: every card that opens among logical numbers 0 to 31.
#include <cstdio>
#include <cstdlib>

#include "KVD4093.h"
#include "card/card.h"
#include "commands/commands.h"
#include "card/usb_diagnosis.h"

namespace kvd::tool {

std::string listHelp() {
    return     "Usage: kvd4093 list [--virtual[=IDS]]\n"
    "\n"
    "Lists the cards that open among logical numbers 0 to 31: logical number (the\n"
    "order of plugging in), physical ID (set on the card) and firmware version.\n"
    "Each number without a card leaves an entry in the library's error log.\n"
    "On USB it names the cards the user may not open (permission denied) and,\n"
    "when no card is found, the pairs it looked for (KVD4093_USB_IDS); it then exits 1.\n"
    "\n"
    "  --virtual[=IDS]        list virtual cards with these physical IDs instead,\n"
    "                         e.g. --virtual=7,9,5 (a bare --virtual: one card, ID 0)\n";
}

namespace {

std::string versionText(uint32_t version) {
    char text[32];
    std::snprintf(text, sizeof text, "%u.%u.%u", (version >> 16) & 0xFF, (version >> 8) & 0xFF, version & 0xFF);
    return text;
}

// One line for the card at n; empty when nothing opens there.
std::string describe(int32_t n) {
    KVD4093_HANDLE card = KVD4093_CreateDevice(n);
    if (card == KVD4093_INVALID_HANDLE)
        return {};
    char line[96];
    if (card == nullptr) {
        std::snprintf(line, sizeof line, "%7d  %11s  %s\n", int(n), "-", "(does not answer)");
        return line;
    }
    int32_t logical = n, physical = -1;
    uint32_t version = 0;
    const bool identified = KVD4093_GetDeviceCurrentID(card, &logical, &physical) != 0;
    const bool versioned = KVD4093_GetDevVersion(card, &version, nullptr) != 0;
    KVD4093_ReleaseDevice(card);
    std::snprintf(line, sizeof line, "%7d  %11s  %s\n", int(n), identified ? std::to_string(physical).c_str() : "?",
                  versioned ? versionText(version).c_str() : "?");
    return line;
}

} // namespace

int runList(Arguments &arguments) {
    arguments.expectAllTaken();
    std::string lines;
    for (int32_t n = 0; n < kLogicalNumbers; ++n)
        lines += describe(n);
    // Virtual cards need no explaining; real ones may be missing for a reason.
    const bool virtualCards = std::getenv("KVD4093_VIRTUAL_CARDS") != nullptr;
    const std::string explanation = virtualCards ? "" : explainUsb(diagnoseUsb(), !lines.empty());
    if (lines.empty()) {
        std::printf("No KVD4093 card found.\n%s", explanation.c_str());
        return virtualCards ? 0 : 1;
    }
    std::printf("logical  physical ID  version\n%s%s", lines.c_str(), explanation.c_str());
    return 0;
}

} // namespace kvd::tool
