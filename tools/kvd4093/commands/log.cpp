// log: what the library's error log holds for function names.
#include <cstdio>
#include <string_view>

#include "card/card.h"
#include "card/logged_names.h"
#include "commands/commands.h"
#include "common/errors.h"

namespace kvd::tool {

const OptionTable &logOptions() {
    static const OptionTable table = {cardOptions()};
    return table;
}

std::string logHelp() {
    return std::string("Usage: kvd4093 log [--card N | --id P] [FUNCTION...]\n"
                       "\n"
                       "Prints the newest message the library's error log holds for each function\n"
                       "name (KVD4093_GetLastErrorEx), as \"message[name]\", a Chinese message with\n"
                       "its English after it. The log lives in the process, so with --card or --id\n"
                       "the card is first opened (and released), and what that logged is shown.\n"
                       "Without names: every function that logs and has an entry. The library\n"
                       "writes the whole log to KVD4093Err.log in the current directory when the\n"
                       "process ends.\n"
                       "\n") +
           optionHelp(logOptions()) + "\nExample: kvd4093 log --virtual --id 4 KVD4093_CreateDeviceEx\n";
}

namespace {

constexpr std::string_view kNoEntry = "No error message[";

} // namespace

int runLog(Arguments &arguments) {
    const CardChoice choice = takeCardChoice(arguments);
    std::vector<std::string> names;
    while (std::optional<std::string> name = arguments.positional())
        names.push_back(*name);
    arguments.expectAllTaken();
    if (choice.given) {
        try {
            OpenCard card(choice);
        } catch (const CallFailed &) {
            // the failure is what the log shows below
        }
    }
    const bool everyName = names.empty();
    if (everyName)
        names.assign(std::begin(kLoggedNames), std::end(kLoggedNames));
    bool shown = false;
    for (const std::string &name : names) {
        const std::string answer = libraryMessage(name.c_str());
        if (everyName && answer.rfind(kNoEntry, 0) == 0)
            continue;
        std::printf("%s\n", answer.c_str());
        shown = true;
    }
    if (!shown)
        std::printf("The error log holds no entry.\n");
    return kExitOk;
}

} // namespace kvd::tool
