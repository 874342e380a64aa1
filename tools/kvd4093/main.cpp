// kvd4093: the command line of the KVD4093 library. Exit status: 0 done,
// 1 a library call or a file failed, 2 a bad command line, 128 + the
// signal's number for an acquisition stopped by a signal (130: Ctrl-C).
#include <algorithm>
#include <optional>
#include <cstdio>
#include <string>
#include <vector>

#include "card/card.h"
#include "commands/commands.h"
#include "common/errors.h"
#include "common/suggestion.h"
#include "common/system.h"
#include "common/text_conversion.h"
#include "common/version.h"

namespace kvd::tool {

const std::vector<Command> &commands() {
    static const std::vector<Command> all = {
        {"list", "list the cards: logical number, physical ID, version", listHelp, runList},
        {"acquire", "run an AD acquisition to CSV, binary or SVG, with a summary", acquireHelp, runAcquire},
        {"di", "read the 16 digital inputs", diHelp, runDi},
        {"do", "set the 16 digital outputs", doHelp, runDo},
        {"da", "write a DA channel and show the DA values", daHelp, runDa},
        {"trig", "set the trigger level", trigHelp, runTrig},
        {"settings", "show, save or reset the saved AD settings", settingsHelp, runSettings},
        {"log", "show what the error log holds for function names", logHelp, runLog},
        {"doctor", "check what stands between this user and a card, and how to fix it", doctorHelp, runDoctor},
    };
    return all;
}

namespace {

std::string overview() {
    std::string text = "Usage: kvd4093 COMMAND [options]   (kvd4093 COMMAND --help for its options)\n"
                       "       kvd4093 --version | --help\n\n";
    for (const Command &command : commands()) {
        char line[128];
        std::snprintf(line, sizeof line, "  %-10s %s\n", command.name, command.summary);
        text += line;
    }
    return text + "\n"
                  "Every command takes --card N (logical number) or --id P (physical ID), and\n"
                  "--virtual[=IDS] for virtual cards (KVD4093_VIRTUAL_CARDS; KVD4093_VIRTUAL_PACING=off\n"
                  "delivers samples at once). Exit status: 0 done, 1 a call or file failed, 2 a bad\n"
                  "command line, 128 + the signal's number for an acquisition stopped by Ctrl-C\n"
                  "(130), SIGTERM (143) or SIGHUP (129).\n";
}

const Command *findCommand(const std::string &name) {
    const auto &all = commands();
    const auto found = std::find_if(all.begin(), all.end(), [&](const Command &c) { return name == c.name; });
    return found == all.end() ? nullptr : &*found;
}

std::string unknownCommand(const std::string &word) {
    std::vector<std::string> names;
    for (const Command &command : commands())
        names.push_back(command.name);
    const std::optional<std::string> closest = closestWord(word, names);
    return "unknown command \"" + word + "\"" + (closest ? " (did you mean " + *closest + "?)" : std::string()) +
           "; kvd4093 --help lists the commands";
}

bool asksForHelp(const std::vector<std::string> &words) {
    return std::any_of(words.begin(), words.end(), [](const std::string &w) { return w == "--help" || w == "-h"; });
}

// The command is the first word that names one, so options may come before
// it: kvd4093 --virtual --card 1 di.
std::vector<std::string>::iterator findCommandWord(std::vector<std::string> &words) {
    return std::find_if(words.begin(), words.end(), [](const std::string &w) { return findCommand(w) != nullptr; });
}

int run(std::vector<std::string> words) {
    takeVirtualOption(words);
    const auto word = findCommandWord(words);
    if (word == words.end()) {
        if (words.empty()) {
            std::fprintf(stderr, "%s", overview().c_str());
            return kExitUsage;
        }
        if (asksForHelp(words) || words.front() == "help") {
            std::printf("%s", overview().c_str());
            return kExitOk;
        }
        if (words.front() == "--version" || words.front() == "version") {
            std::printf("%s", toolAndLibraryVersion().c_str());
            return kExitOk;
        }
        const auto stray = std::find_if(words.begin(), words.end(), [](const std::string &w) { return w[0] != '-'; });
        if (stray == words.end())
            throw UsageError("no command given; kvd4093 --help lists the commands");
        throw UsageError(unknownCommand(*stray));
    }
    const Command &command = *findCommand(*word);
    words.erase(word);
    if (asksForHelp(words)) {
        std::printf("%s", command.help().c_str());
        return kExitOk;
    }
    Arguments arguments(command.name, std::move(words));
    return command.run(arguments);
}

} // namespace
} // namespace kvd::tool

int main(int argc, char **argv) {
    using namespace kvd::tool;
    useTerminalLocale();
    reportBrokenPipesAsErrors();
    try {
        return run(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const UsageError &error) {
        std::fprintf(stderr, "kvd4093: %s\n", error.what());
        return kExitUsage;
    } catch (const CallFailed &error) {
        std::fprintf(stderr, "kvd4093: %s\n", error.what());
        return kExitFailed;
    } catch (const ToolError &error) {
        std::fprintf(stderr, "kvd4093: %s\n", error.what());
        return kExitFailed;
    }
}
