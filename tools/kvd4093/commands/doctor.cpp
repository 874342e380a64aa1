// doctor: what stands between this user and a card, one check a line, with
// the step that fixes each one that fails.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "KVD4093.h"
#include "card/card.h"
#include "card/card_probe.h"
#include "card/udev_rule.h"
#include "card/usb_diagnosis.h"
#include "card/virtual_cards.h"
#include "card/windows_diagnosis.h"
#include "commands/commands.h"
#include "common/errors.h"
#include "common/system.h"
#include "common/version.h"
#include "common/writable_places.h"

namespace kvd::tool {

const OptionTable &doctorOptions() {
    static const OptionTable table = {
        {"",
         {{.name = "udev-rules",
           .value = "FOLDERS",
           .help = "look for the udev rule in these folders (separated by\n"
                   "colons, the first taking precedence) instead of udev's\n"
                   "own: /etc/udev/rules.d, /run/udev/rules.d,\n"
                   "/usr/lib/udev/rules.d, /lib/udev/rules.d; a rule file\n"
                   "that is not a regular file of at most " +
                   std::to_string(kMaxUdevRuleFileMiB) + " MiB is skipped"},
          virtualOption("check with virtual cards of these physical IDs")}}};
    return table;
}

std::string doctorHelp() {
    return "Usage: kvd4093 doctor [--virtual[=IDS]] [--udev-rules FOLDERS]\n"
           "\n"
           "Checks what stands between this user and a card, one line each, marked\n"
           "with a tick or a cross, and under each cross the step that fixes it: the\n"
           "library loaded (its file and version); KVD4093_VIRTUAL_CARDS; on Linux the\n"
           "USB devices of the configured vendor:product pairs, whether this user may\n"
           "open each, whether another program or a kernel driver holds it, and the\n"
           "udev rule that names each pair; on Windows the card class's interfaces and\n"
           "the state of their driver service; the settings store; the folder where\n"
           "programs leave the library's log file; last, whether a card opens.\n"
           "Exit status 0 when a card opens, 1 otherwise.\n"
           "\n" +
           optionHelp(doctorOptions());
}

namespace {

struct Check {
    bool ok;
    std::string text;
    std::string fix; // for a failed check; lines after the first are indented with it
};

// "✓ text", or "✗ text" with the fix below it, its lines indented alike.
void show(const Check &check) {
    printUtf8(check.ok ? "\u2713 " : "\u2717 ");
    std::printf("%s\n", check.text.c_str());
    if (!check.ok && !check.fix.empty()) {
        std::string fix = check.fix;
        for (size_t at = fix.find('\n'); at != std::string::npos; at = fix.find('\n', at + 1))
            fix.insert(at + 1, "       ");
        std::printf("  fix: %s\n", fix.c_str());
    }
    std::fflush(stdout);
}

// The non-empty parts of the text between separators.
std::vector<std::string> split(const std::string &text, char separator) {
    std::vector<std::string> parts;
    for (size_t start = 0; start <= text.size();) {
        const size_t end = std::min(text.find(separator, start), text.size());
        if (end > start)
            parts.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

Check libraryCheck() {
    const LoadedLibrary library = loadedLibrary();
    if (library.file.empty())
        return {false, "library: the tool cannot tell which file it runs with",
                "install the tool and the library again"};
    const std::string text =
        "library " + library.file + (library.version.empty() ? "" : " (version " + library.version + ")");
    if (!library.version.empty() && library.version != toolVersion())
        return {false, text + ", but this tool is version " + toolVersion(),
                "install the library and the tool of one version (one package)"};
    return {true, text, ""};
}

// The virtual cards the library takes instead of real ones; false when it looks for real cards.
bool checkVirtualCards() {
    const VirtualCards cards = virtualCardsFromEnvironment();
    if (cards.malformed) {
        show({false,
              "KVD4093_VIRTUAL_CARDS=\"" + cards.text + "\" is malformed (" + *cards.malformed +
                  "): the library ignores it and looks for real cards",
              "set it to the virtual cards' physical IDs, e.g. KVD4093_VIRTUAL_CARDS=7,9,5, or unset it"});
        return false;
    }
    if (!cards.active()) {
        show({true, "KVD4093_VIRTUAL_CARDS is not set: the library looks for real cards", ""});
        return false;
    }
    show({true, "KVD4093_VIRTUAL_CARDS=" + cards.idList() + ": virtual cards stand in for real ones", ""});
    return true;
}

#if defined(_WIN32)
void checkCardTransport(const std::vector<std::string> &) {
    const std::vector<CardInterface> interfaces = cardInterfaces();
    if (interfaces.empty()) {
        show({false, std::string("no card interface of the class ") + kCardClassText + " is present",
              "plug the card in and install its driver; without a card, install the software card\n"
              "of the Windows package as administrator: kvd4093card.exe install 7"});
        return;
    }
    show({true,
          std::to_string(interfaces.size()) + (interfaces.size() == 1 ? " card interface" : " card interfaces") +
              " of the class " + kCardClassText + " present",
          ""});
    std::set<std::string> services;
    for (const CardInterface &member : interfaces) {
        if (member.service.empty())
            show({false, "card interface " + member.path + ": its device names no driver service",
                  "install the card's driver"});
        else
            services.insert(member.service);
    }
    for (const std::string &service : services) {
        const ServiceState state = serviceState(service);
        show({state.running, "driver service " + service + ": " + state.text,
              state.installed ? "start it as administrator: sc start " + service : "install the card's driver"});
    }
}

#else
std::string joined(const std::vector<std::string> &words, const char *between) {
    std::string text;
    for (const std::string &word : words)
        text += (text.empty() ? "" : between) + word;
    return text;
}

std::string reloadRules() { return std::string("reload the rules: ") + kReloadUdevRules; }

// Where the rule for the pair goes and what it says.
std::string ruleToWrite(const std::string &pair, const std::vector<std::string> &folders) {
    return "put this line into " + folders.front() + "/" + kUdevRuleName + ", then " + reloadRules() + "\n" +
           udevRuleLine(pair);
}

// The rule file naming the pair; empty when none does.
std::string ruleNaming(const std::string &pair, const UdevRules &rules) {
    const auto named = rules.fileNaming.find(pair);
    return named == rules.fileNaming.end() ? std::string() : named->second;
}

Check permissionCheck(const UsbDevice &device, const UdevRules &rules, const std::vector<std::string> &folders) {
    if (!device.denied)
        return {true, "USB device " + device.place + ": this user may open it", ""};
    const std::string text = "USB device " + device.place + ": this user may not open it (permission denied)";
    const std::string rule = ruleNaming(device.pair, rules);
    if (rule.empty())
        return {false, text, ruleToWrite(device.pair, folders)};
    return {false, text,
            "the udev rule " + rule + " names it but has not been applied: " + reloadRules() +
                "\nand plug the card in again; without a seat (ssh), join the group plugdev:\n"
                "sudo usermod -aG plugdev \"$USER\", then log in again"};
}

// A claim of interface 0 refused (UsbDevice::busy): another program holds the
// card. Having the device file open is not holding it.
Check holderCheck(const UsbDevice &device) {
    if (!device.busy)
        return {true, "USB device " + device.file + ": no other program holds it", ""};
    const std::vector<std::string> programs = programsUsing(device.file);
    if (!programs.empty())
        return {false, "USB device " + device.file + ": in use by " + joined(programs, ", "),
                "end that program, or let it release the card"};
    return {false, "USB device " + device.file + ": another program has claimed it",
            "find it with \"sudo fuser -v " + device.file + "\" and end it"};
}

Check kernelDriverCheck(const UsbDevice &device) {
    if (device.interfaceDriver.empty() || device.interfaceDriver == "usbfs")
        return {true, "USB device " + device.file + ": no kernel driver bound to its interface 0", ""};
    return {true,
            "USB device " + device.file + ": kernel driver " + device.interfaceDriver +
                " bound to its interface 0; the library detaches it when it opens the card",
            ""};
}

Check ruleCheck(const std::string &pair, const UdevRules &rules, const std::vector<std::string> &folders) {
    const std::string rule = ruleNaming(pair, rules);
    if (!rule.empty())
        return {true, "udev rule " + rule + " names " + pair, ""};
    return {false, "no udev rule names " + pair + " (looked in " + joined(folders, ", ") + ")",
            ruleToWrite(pair, folders)};
}

// A rule file that is not read, as udev could not read it either.
Check skippedRuleCheck(const std::string &skipped) {
    return {false, "udev rule file " + skipped + ": skipped",
            "move it out of the folder: a rule file is a regular file of at most " +
                std::to_string(kMaxUdevRuleFileMiB) + " MiB"};
}

void checkCardTransport(const std::vector<std::string> &folders) {
    const UsbDiagnosis usb = diagnoseUsb();
    const std::vector<std::string> pairs = usbPairs(usb.pairs);
    const std::string source = usb.pairsFromEnvironment ? "KVD4093_USB_IDS" : "the library's built-in list";
    if (pairs.empty()) {
        show({false,
              usb.pairsFromEnvironment ? "KVD4093_USB_IDS=\"" + usb.pairs + "\" names no USB vendor:product pair"
                                       : "no USB vendor:product pair is set: KVD4093_USB_IDS is unset and the "
                                         "library has none built in",
              "set KVD4093_USB_IDS to the card's pair as lsusb shows it (hex, e.g. KVD4093_USB_IDS=1209:0001),\n"
              "or use virtual cards (--virtual, KVD4093_VIRTUAL_CARDS)"});
        return;
    }
    const std::string looked = joined(pairs, ",");
    if (usb.devices.empty())
        show({false, "no USB device " + looked + " is present (the pairs of " + source + ")",
              "plug the card in; if lsusb shows it under another ID, set KVD4093_USB_IDS to that pair"});
    else
        show({true,
              std::string(usb.devices.size() == 1 ? "1 USB device "
                                                  : std::to_string(usb.devices.size()) + " USB devices ") +
                  looked + " present",
              ""});
    const UdevRules rules = readUdevRules(folders);
    for (const UsbDevice &device : usb.devices) {
        show(permissionCheck(device, rules, folders));
        show(holderCheck(device));
        if (!device.denied)
            show(kernelDriverCheck(device));
    }
    for (const std::string &skipped : rules.skipped)
        show(skippedRuleCheck(skipped));
    for (const std::string &pair : pairs)
        show(ruleCheck(pair, rules, folders));
}

#endif

Check placeCheck(const char *what, const PlaceCheck &place) {
    return {place.ok, std::string(what) + " " + place.place + ": " + place.state, place.fix};
}

// Whether a card opens through the library, as a program would open it.
Check openingCheck() {
    int32_t silent = -1; // the first card that opens but does not take its open packet
    for (int32_t n = 0; n < kLogicalNumbers; ++n) {
        const std::optional<CardProbe> probe = probeCard(n);
        if (!probe)
            continue;
        if (!probe->answers) {
            silent = silent < 0 ? n : silent;
            continue;
        }
        const std::string physical = probe->physicalId ? std::to_string(*probe->physicalId) : "?";
        return {true, "card " + std::to_string(n) + " (physical ID " + physical + ") opens", ""};
    }
    if (silent >= 0)
        return {false,
                "card " + std::to_string(silent) +
                    " opens but does not answer: " + libraryMessage("KVD4093_WriteDeviceDA"),
                "plug the card in again"};
    return {false, "no card opens: " + libraryMessage("KVD4093_CreateDevice"),
            "the crosses above say what stands in the way"};
}

} // namespace

int runDoctor(Arguments &arguments) {
    const std::optional<std::string> ruleFolders = arguments.value("udev-rules");
    arguments.expectAllTaken();
    const std::vector<std::string> folders = ruleFolders ? split(*ruleFolders, ':') : udevRuleFolders();
    if (folders.empty())
        throw UsageError("--udev-rules needs at least one folder");

    show(libraryCheck());
    const bool virtualCards = checkVirtualCards();
    if (!virtualCards)
        checkCardTransport(folders);
    show(placeCheck("settings store", checkSettingsStore(virtualCards)));
    show(placeCheck("log folder", checkLogFolder()));
    const Check opening = openingCheck();
    show(opening);
    return opening.ok ? kExitOk : kExitFailed;
}

} // namespace kvd::tool
