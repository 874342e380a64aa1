// kvd4093: the command line of the KVD4093 library. Exit status: 0 done,
// 1 a library call or a file failed, 2 a bad command line, 128 + the
// signal's number for an acquisition stopped by a signal (130: Ctrl-C),
// 141 when the reader of its output quit.
#include <algorithm>
#include <new>
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
#include "output/formats.h"

namespace kvd::tool {

const std::vector<Command> &commands() {
    static const std::vector<Command> all = {
        {"list", "list the cards: logical number, physical ID, version", listHelp, listOptions, runList},
        {"acquire", "run an AD acquisition to a file in any output format, and SVG", acquireHelp, acquireOptions,
         runAcquire},
        {"convert", "write a raw binary acquisition (.bin) in another output format", convertHelp, convertOptions,
         runConvert},
        {"collect", "write the acquisitions published to an MQTT broker to files", collectHelp, collectOptions,
         runCollect},
        {"di", "read the 16 digital inputs", diHelp, diOptions, runDi},
        {"do", "set the 16 digital outputs", doHelp, doOptions, runDo},
        {"da", "write a DA channel and show the DA values", daHelp, daOptions, runDa},
        {"trig", "set the trigger level", trigHelp, trigOptions, runTrig},
        {"settings", "show, save or reset the saved AD settings", settingsHelp, settingsOptions, runSettings},
        {"log", "show what the error log holds for function names", logHelp, logOptions, runLog},
        {"panel", "serve the card's test panel to a browser", panelHelp, panelOptions, runPanel},
        {"doctor", "check what stands between this user and a card, and how to fix it", doctorHelp, doctorOptions,
         runDoctor},
    };
    return all;
}

namespace {

std::string overview() {
    std::string text = "Usage: kvd4093 COMMAND [options]   (kvd4093 COMMAND --help for its options)\n"
                       "       kvd4093 --version | --help | help --all | help --options | help --formats\n\n";
    for (const Command &command : commands()) {
        char line[128];
        std::snprintf(line, sizeof line, "  %-10s %s\n", command.name, command.summary);
        text += line;
    }
    return text + "\n"
                  "A command that opens a card takes --card N (-c N, logical number) or --id P\n"
                  "(physical ID), and --virtual[=IDS] for virtual cards (KVD4093_VIRTUAL_CARDS),\n"
                  "before or after the command and its words. -V is --version,\n"
                  "-h --help; kvd4093 help --all shows every command's help, the environment\n"
                  "variables and the files; kvd4093 help --options lists each command with its\n"
                  "options, a line each (what the bash completion offers), kvd4093 help --formats\n"
                  "each output format with its extension.\n";
}

// The overview, every command's help, then the exit status, environment,
// files and examples: what the manual page is made of.
std::string wholeHelp() {
    std::string text = overview() + "\n*Commands*\n";
    // "NAME:" before a line that is indented: a sub-section to help2man.
    for (const Command &command : commands())
        text.append("\n").append(command.name).append(":\n  ").append(command.help());
    return text.append("\n").append(referenceHelp());
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

// What a person can do when no card opens; the doctor's advice as soon as
// the tool has that command.
std::string missingCardAdvice() {
    std::string text = "To see the cards there are: kvd4093 list\n"
                       "To try without a card: add --virtual to the command\n";
    if (findCommand("doctor"))
        text += "To find out why no card is found: kvd4093 doctor\n";
    return text;
}

// "acquire --samples -n ...": a line for each command.
std::string optionList() {
    std::string text;
    for (const Command &command : commands())
        text.append(command.name).append(" ").append(optionSpellings(command.options())).append("\n");
    return text;
}

// kvd4093 help [COMMAND | --all | --options | --formats]
int runHelp(const std::vector<std::string> &words) {
    if (words.size() > 2)
        throw UsageError("help takes one command, --all, --options or --formats");
    if (words.size() == 1)
        std::printf("%s\n%s", overview().c_str(), exitStatusHelp().c_str());
    else if (words[1] == "--all")
        std::printf("%s", wholeHelp().c_str());
    else if (words[1] == "--options")
        std::printf("%s", optionList().c_str());
    else if (words[1] == "--formats")
        std::printf("%s", formatList().c_str());
    else if (const Command *command = findCommand(words[1]))
        std::printf("%s", command->help().c_str());
    else
        throw UsageError(unknownCommand(words[1]));
    return kExitOk;
}

bool asksForHelp(const std::vector<std::string> &words) {
    const Option &help = helpOption();
    const std::string spellings[] = {"--" + help.name, std::string("-") + help.letter};
    return std::any_of(words.begin(), words.end(), [&](const std::string &w) {
        return std::find(std::begin(spellings), std::end(spellings), w) != std::end(spellings);
    });
}

// The command is the first word that names one, so options may come before
// it: kvd4093 --virtual --card 1 di. They are the command's options.
std::vector<std::string>::iterator findCommandWord(std::vector<std::string> &words) {
    return std::find_if(words.begin(), words.end(), [](const std::string &w) { return findCommand(w) != nullptr; });
}

int run(std::vector<std::string> words) {
    if (!words.empty() && words.front() == "help")
        return runHelp(words);
    const auto word = findCommandWord(words);
    if (word == words.end()) {
        if (words.empty()) {
            std::fprintf(stderr, "%s", overview().c_str());
            return kExitUsage;
        }
        if (asksForHelp(words))
            return runHelp({"help"});
        if (words.front() == "--version" || words.front() == "-V" || words.front() == "version") {
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
    Arguments arguments(command.name, command.options(), words);
    takeVirtualOption(arguments);
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
    } catch (const ReaderGone &) {
        return kExitReaderGone; // nothing to say: the reader left on purpose
    } catch (const UsageError &error) {
        std::fprintf(stderr, "kvd4093: %s\n", error.what());
        return kExitUsage;
    } catch (const CardMissing &error) {
        std::fprintf(stderr, "kvd4093: %s\n%s", error.what(), missingCardAdvice().c_str());
        return kExitFailed;
    } catch (const CallFailed &error) {
        std::fprintf(stderr, "kvd4093: %s\n", error.what());
        return kExitFailed;
    } catch (const ToolError &error) {
        std::fprintf(stderr, "kvd4093: %s\n", error.what());
        return kExitFailed;
    } catch (const std::bad_alloc &) {
        std::fprintf(stderr, "kvd4093: out of memory\n");
        return kExitFailed;
    } catch (const std::exception &error) {
        std::fprintf(stderr, "kvd4093: unexpected failure: %s\n", error.what());
        return kExitFailed;
    }
}
