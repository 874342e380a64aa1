// list: every card that opens among logical numbers 0 to 31.
#include <cstdio>

#include "card/card.h"
#include "card/card_probe.h"
#include "commands/commands.h"
#include "card/usb_diagnosis.h"
#include "card/virtual_cards.h"

namespace kvd::tool {

const OptionTable &listOptions() {
    static const OptionTable table = {
        {"",
         {virtualOption("list virtual cards with these physical IDs instead,\n"
                        "e.g. --virtual=7,9,5 (a bare --virtual: one card, ID 0)")}}};
    return table;
}

std::string listHelp() {
    return "Usage: kvd4093 list [--virtual[=IDS]]\n"
    "\n"
    "Lists the cards that open among logical numbers 0 to 31: logical number (the\n"
    "order of plugging in), physical ID (set on the card) and firmware version.\n"
    "Each number without a card leaves an entry in the library's error log.\n"
    "On USB it names the cards the user may not open (permission denied), those\n"
    "another program holds (in use by another program) and, when no card is found,\n"
    "the pairs it looked for (KVD4093_USB_IDS). Without a card (real or virtual) it\n"
    "exits 1.\n"
    "\n" + optionHelp(listOptions());
}

namespace {

// One line for the card at n; empty when nothing opens there.
std::string describe(int32_t n) {
    const std::optional<CardProbe> probe = probeCard(n);
    if (!probe)
        return {};
    char line[96];
    if (!probe->answers)
        std::snprintf(line, sizeof line, "%7d  %11s  %s\n", int(n), "-", "(does not answer)");
    else
        std::snprintf(line, sizeof line, "%7d  %11s  %s\n", int(n),
                      probe->physicalId ? std::to_string(*probe->physicalId).c_str() : "?",
                      probe->version ? versionText(*probe->version).c_str() : "?");
    return line;
}

// Virtual cards need no explaining; real ones may be missing for a reason,
// and a malformed list of virtual cards leaves the real ones.
std::string whyCardsMayBeMissing(const VirtualCards &virtualCards, bool anyCard) {
    if (virtualCards.active())
        return {};
    if (virtualCards.malformed)
        return virtualCards.malformedNote() + "\n";
    return explainUsb(diagnoseUsb(), anyCard);
}

} // namespace

int runList(Arguments &arguments) {
    arguments.expectAllTaken();
    std::string lines;
    for (int32_t n = 0; n < kLogicalNumbers; ++n)
        lines += describe(n);
    const std::string explanation = whyCardsMayBeMissing(virtualCardsFromEnvironment(), !lines.empty());
    if (lines.empty()) {
        std::printf("No KVD4093 card found.\n%s", explanation.c_str());
        return 1;
    }
    std::printf("logical  physical ID  version\n%s%s", lines.c_str(), explanation.c_str());
    return 0;
}

} // namespace kvd::tool
