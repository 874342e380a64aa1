// settings show|save|reset: the AD record the library keeps for a card.
#include <cstdio>

#include "KVD4093.h"
#include "card/ad_fields.h"
#include "card/card.h"
#include "commands/commands.h"
#include "common/errors.h"

namespace kvd::tool {

const OptionTable &settingsOptions() {
    static const OptionTable table = [] {
        OptionTable options = recordOptions("Record options (save):");
        options.push_back(cardOptions("The card:"));
        return options;
    }();
    return table;
}

std::string settingsHelp() {
    return std::string("Usage: kvd4093 settings show|save|reset [options]\n"
                       "\n"
                       "The ADPara record the library keeps for each card, by physical ID (on\n"
                       "Linux in $XDG_CONFIG_HOME/Olm/KVD4093.reg, ~/.config when unset). `acquire`\n"
                       "starts from it. Virtual cards keep theirs apart, in KVD4093-virtual.reg\n"
                       "beside it; KVD4093_SETTINGS names a settings file for both.\n"
                       "  show                   prints the saved record (defaults where nothing is saved)\n"
                       "  save [record options]  changes the saved record by the options and saves it\n"
                       "  reset                  deletes the saved record and prints the defaults\n"
                       "\n") +
           optionHelp(settingsOptions()) +
           "\nExample: kvd4093 settings save --virtual --channels 0-3 --rate 100k\n";
}

namespace {

ADPara loadRecord(const OpenCard &card) {
    ADPara para{};
    if (!KVD4093_LoadParaAD(card.handle(), &para))
        failCall("KVD4093_LoadParaAD");
    return para;
}

} // namespace

int runSettings(Arguments &arguments) {
    const std::optional<std::string> action = arguments.positional();
    if (!action || (*action != "show" && *action != "save" && *action != "reset"))
        throw UsageError("settings needs show, save or reset");
    const CardChoice choice = takeCardChoice(arguments);
    const RecordOptions options = *action == "save" ? RecordOptions::take(arguments) : RecordOptions{};
    arguments.expectAllTaken();

    OpenCard card(choice);
    ADPara para{};
    if (*action == "show") {
        para = loadRecord(card);
        std::printf("AD settings of %s:\n", card.name().c_str());
    } else if (*action == "save") {
        para = loadRecord(card);
        options.applyTo(para);
        if (!KVD4093_SaveParaAD(card.handle(), &para))
            failCall("KVD4093_SaveParaAD");
        std::printf("saved the AD settings of %s:\n", card.name().c_str());
    } else {
        if (!KVD4093_ResetParaAD(card.handle(), &para))
            failCall("KVD4093_ResetParaAD");
        std::printf("reset the AD settings of %s to the defaults:\n", card.name().c_str());
    }
    std::printf("%s", describeRecord(para).c_str());
    return kExitOk;
}

} // namespace kvd::tool
