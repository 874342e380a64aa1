// kvd4093 doctor on virtual cards and without a card: every check's line,
// the fix under each one that fails, and the exit status that says whether
// a card opens.
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>

#include <gtest/gtest.h>

#include "support/test_support.h"
#include "tool/tool_process.h"

namespace kvd::testing {
namespace {

const std::string kTick = "\u2713 ";
const std::string kCross = "\u2717 ";
const std::string kReload = "sudo udevadm control --reload-rules && sudo udevadm trigger";

std::string libraryLine() {
    return kTick + "library " + std::filesystem::canonical(KVD4093_SHARED_LIBRARY).string() + " (version " +
           KVD4093_PROJECT_VERSION + ")";
}

// The example line of the rule the build wrote (no pair configured): the
// line for 1209:0001 behind a comment sign.
std::string buildRuleExample() {
    const auto build = std::filesystem::path(KVD4093_TOOL_PATH).parent_path().parent_path();
    for (const std::string &line : linesOf(readWholeFile((build / "70-kvd4093.rules").string())))
        if (line.rfind("# SUBSYSTEM==", 0) == 0)
            return line.substr(2);
    return {};
}

TEST(ToolDoctorTest, OnAVirtualCardEveryCheckPasses) {
    TempDir dir;
    const ChildResult result = runTool(dir.path(), {"doctor", "--virtual=7"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(
        linesOf(result.out),
        (std::vector<std::string>{
            libraryLine(),
            kTick + "KVD4093_VIRTUAL_CARDS=7: virtual cards stand in for real ones",
            kTick + "settings store " + dir.path() +
                "/config/Olm/KVD4093-virtual.reg: none saved yet; the first save makes it",
            kTick + "log folder " + dir.path() + ": writable; programs leave KVD4093Err.log here when they end",
            kTick + "card 0 (physical ID 7) opens",
        }));
    // A store named by KVD4093_SETTINGS is the one checked, for virtual cards too.
    const std::string named = dir.path() + "/mine.reg";
    const ChildResult withNamed = runTool(dir.path(), {"doctor", "--virtual=7"}, {{"KVD4093_SETTINGS", named}});
    EXPECT_EQ(linesOf(withNamed.out).at(2), kTick + "settings store " + named + ": none saved yet; the first save makes it");
}

struct PlaceCase {
    std::string name;
    std::string prepare;  // a shell script run in the folder first
    std::string expected; // the line of the settings store or the log folder; DIR stands for the folder
    std::string fix;      // the line below it; empty when none
};

std::string withFolder(std::string text, const std::string &folder) {
    for (size_t at = text.find("DIR"); at != std::string::npos; at = text.find("DIR", at + folder.size()))
        text.replace(at, 3, folder);
    return text;
}

TEST(ToolDoctorTest, SettingsStoreAndLogFolderSayWhatKeepsThemFromBeingWritten) {
    const std::vector<PlaceCase> cases = {
        {"saved settings", "", kTick + "settings store DIR/config/Olm/KVD4093-virtual.reg: readable and writable", ""},
        {"settings file is a folder", "rm config/Olm/KVD4093-virtual.reg && mkdir config/Olm/KVD4093-virtual.reg",
         kCross + "settings store DIR/config/Olm/KVD4093-virtual.reg: not a regular file",
         "  fix: move it away: the library keeps its settings in a file of that name"},
        {"config home is a file", "rm -rf config && touch config",
         kCross + "settings store DIR/config/Olm/KVD4093-virtual.reg: cannot be made: DIR/config is not a folder",
         "  fix: move DIR/config away, or set XDG_CONFIG_HOME to a folder of yours"},
        {"log file is a folder", "mkdir KVD4093Err.log", kCross + "log folder DIR: KVD4093Err.log here is not a file",
         "  fix: move it away, or run programs from another folder"},
    };
    for (const PlaceCase &place : cases) {
        TempDir dir;
        ASSERT_EQ(runTool(dir.path(), {"settings", "save", "--virtual=7", "--rate", "10k"}).exitCode, 0);
        std::filesystem::remove(dir.file("KVD4093Err.log"));
        ASSERT_EQ(runChild("/bin/sh", {"-c", place.prepare}, dir.path()).exitCode, 0) << place.name;
        const ChildResult result = runTool(dir.path(), {"doctor", "--virtual=7"});
        EXPECT_EQ(result.exitCode, 0) << place.name << result.err;
        const std::vector<std::string> lines = linesOf(result.out);
        const auto line = std::find(lines.begin(), lines.end(), withFolder(place.expected, dir.path()));
        ASSERT_NE(line, lines.end()) << place.name << ":\n" << result.out;
        if (place.fix.empty())
            EXPECT_TRUE(line + 1 == lines.end() || (line + 1)->rfind("  fix:", 0) != 0) << place.name;
        else
            EXPECT_EQ(line + 1 == lines.end() ? "" : *(line + 1), withFolder(place.fix, dir.path())) << place.name;
    }
}

TEST(ToolDoctorTest, AMalformedVirtualCardListIsACrossAndRealCardsAreLookedFor) {
    TempDir dir;
    const ChildResult result = runTool(dir.path(), {"doctor"}, {{"KVD4093_VIRTUAL_CARDS", "7,x"}});
    EXPECT_EQ(result.exitCode, 1);
    const std::vector<std::string> lines = linesOf(result.out);
    ASSERT_GE(lines.size(), 4u) << result.out;
    EXPECT_EQ(lines[1], kCross + "KVD4093_VIRTUAL_CARDS=\"7,x\" is malformed (entry 2 (\"x\") is not a number from 0 "
                                 "to 255): the library ignores it and looks for real cards");
    EXPECT_EQ(lines[2],
              "  fix: set it to the virtual cards' physical IDs, e.g. KVD4093_VIRTUAL_CARDS=7,9,5, or unset it");
    EXPECT_EQ(lines[3].rfind(kCross + "no USB vendor:product pair is set", 0), 0u) << lines[3];
}

struct PairsCase {
    std::optional<std::string> ids; // KVD4093_USB_IDS; nullopt: unset
    std::string expected;
};

TEST(ToolDoctorTest, WithoutACardItNamesThePairsLookedForAndExitsOne) {
    const std::vector<PairsCase> cases = {
        {"1209:0001,04b4:8613",
         kCross + "no USB device 1209:0001,04b4:8613 is present (the pairs of KVD4093_USB_IDS)\n"
                  "  fix: plug the card in; if lsusb shows it under another ID, set KVD4093_USB_IDS to that pair"},
        // Malformed after a good pair: the library takes none of it, and the tool says so.
        {"04B4:8613,zz", kCross + "KVD4093_USB_IDS=\"04B4:8613,zz\" names no USB vendor:product pair\n"},
        {"zz", kCross + "KVD4093_USB_IDS=\"zz\" names no USB vendor:product pair\n"
                        "  fix: set KVD4093_USB_IDS to the card's pair as lsusb shows it (hex, e.g. "
                        "KVD4093_USB_IDS=1209:0001),\n"
                        "       or use virtual cards (--virtual, KVD4093_VIRTUAL_CARDS)"},
        {std::nullopt, kCross + "no USB vendor:product pair is set: KVD4093_USB_IDS is unset and the library has "
                                "none built in\n"},
    };
    for (const PairsCase &pairs : cases) {
        TempDir dir;
        const ChildResult result =
            runTool(dir.path(), {"doctor", "--udev-rules", dir.file("rules")}, {{"KVD4093_USB_IDS", pairs.ids}});
        EXPECT_EQ(result.exitCode, 1) << result.err;
        EXPECT_NE(result.out.find(pairs.expected), std::string::npos) << result.out;
        EXPECT_NE(result.out.find(kCross + "no card opens: "), std::string::npos) << result.out;
    }
}

struct RuleCase {
    std::string name;
    std::vector<std::pair<std::string, std::string>> files; // path below the folder, content
    std::string found;                                      // the file that names the pair; empty: none
};

TEST(ToolDoctorTest, TheUdevRuleIsFoundAsUdevReadsTheFolders) {
    const std::string example = buildRuleExample();
    ASSERT_FALSE(example.empty()) << "no example line in the build's 70-kvd4093.rules";
    const std::vector<RuleCase> cases = {
        {"none", {}, ""},
        {"the build's rule line", {{"a/70-kvd4093.rules", example + "\n"}}, "a/70-kvd4093.rules"},
        {"another file, parent attributes, upper case",
         {{"b/99-daq.rules",
           "ACTION==\"add\", ATTRS{idVendor}==\"1209\", ATTRS{idProduct} == \"0001\", MODE=\"0666\"\n"}},
         "b/99-daq.rules"},
        {"commented out", {{"a/70-kvd4093.rules", "# " + example + "\n"}}, ""},
        {"another pair", {{"a/70-kvd4093.rules", "ATTR{idVendor}==\"1209\", ATTR{idProduct}==\"0002\"\n"}}, ""},
        {"not a rules file", {{"a/70-kvd4093.rules.bak", example + "\n"}}, ""},
        {"hidden by a file of the same name in an earlier folder",
         {{"a/70-kvd4093.rules", "# none\n"}, {"b/70-kvd4093.rules", example + "\n"}},
         ""},
        {"the earlier folder's file wins",
         {{"a/70-kvd4093.rules", example + "\n"}, {"b/70-kvd4093.rules", example + "\n"}},
         "a/70-kvd4093.rules"},
    };
    for (const RuleCase &rule : cases) {
        TempDir dir;
        for (const auto &[path, content] : rule.files)
            writeWholeFile(dir.file(path), content);
        const ChildResult result = runTool(dir.path(), {"doctor", "--udev-rules", dir.file("a") + ":" + dir.file("b")},
                                           {{"KVD4093_USB_IDS", "1209:0001"}});
        const std::string expected = rule.found.empty()
                                         ? kCross + "no udev rule names 1209:0001 (looked in " + dir.file("a") + ", " +
                                               dir.file("b") + ")\n" + "  fix: put this line into " + dir.file("a") +
                                               "/70-kvd4093.rules, then reload the rules: " + kReload + "\n       " +
                                               example + "\n"
                                         : kTick + "udev rule " + dir.file(rule.found) + " names 1209:0001\n";
        EXPECT_NE(result.out.find(expected), std::string::npos) << rule.name << ":\n" << result.out;
    }
}

struct HostileRuleCase {
    std::string name;
    std::string prepare;  // a shell script run in the test's folder, which holds the rule folders a and b
    std::string expected; // lines of the output; DIR stands for the folder
};

const std::string kSkippedFix = "  fix: move it out of the folder: a rule file is a regular file of at most 1 MiB\n";

// Rule files that are not what they are named, or lines built to make a
// matcher work without end: each is skipped or read, promptly, with a line
// saying so, and the pair's check still comes.
TEST(ToolDoctorTest, RuleFilesThatAreNotRegularFilesOrHoldHostileLinesAreHandledPromptly) {
    const std::string example = buildRuleExample();
    const std::string absent =
        kCross + "no udev rule names 1209:0001 (looked in DIR/a, DIR/b)\n  fix: put this line into DIR/a/";
    const std::vector<HostileRuleCase> cases = {
        {"a FIFO", "mkfifo a/60-fifo.rules",
         kCross + "udev rule file DIR/a/60-fifo.rules: a FIFO, not a regular file: skipped\n" + kSkippedFix + absent},
        {"a link to /dev/zero", "ln -s /dev/zero a/60-zero.rules",
         kCross + "udev rule file DIR/a/60-zero.rules: a character device, not a regular file: skipped\n" +
             kSkippedFix + absent},
        {"a file over the limit", "head -c 1048577 /dev/zero | tr '\\0' '#' > a/60-large.rules",
         kCross + "udev rule file DIR/a/60-large.rules: larger than the 1 MiB a rule file is read up to: skipped\n" +
             kSkippedFix + absent},
        {"a file at the limit naming the pair",
         "{ echo '" + example + "'; head -c $((1048576 - " + std::to_string(example.size() + 1) +
             ")) /dev/zero | tr '\\0' '#'; } > a/60-full.rules",
         kTick + "udev rule DIR/a/60-full.rules names 1209:0001\n"},
        {"50 000 blanks after ATTR{idVendor}==",
         "printf 'ATTR{idVendor}==%50000s\"1209\", ATTR{idProduct}==\"0001\"\\n' '' > b/60-blanks.rules",
         kTick + "udev rule DIR/b/60-blanks.rules names 1209:0001\n"},
        {"50 000 blanks and no value", "printf 'ATTR{idVendor}==%50000s\\n' '' > b/60-blanks.rules", absent},
        {"a link to /dev/null hides the file of that name, as udev takes it",
         "ln -s /dev/null a/70-kvd4093.rules && echo '" + example + "' > b/70-kvd4093.rules", absent},
    };
    for (const HostileRuleCase &rule : cases) {
        TempDir dir;
        ASSERT_EQ(runChild("/bin/sh", {"-c", "mkdir a b && " + rule.prepare}, dir.path()).exitCode, 0) << rule.name;
        const ChildResult result =
            ToolProcess(dir.path(), {"doctor", "--udev-rules", dir.file("a") + ":" + dir.file("b")},
                        {{"KVD4093_USB_IDS", "1209:0001"}})
                .wait(std::chrono::seconds(20));
        EXPECT_EQ(result.exitCode, 1) << rule.name << result.err;
        EXPECT_NE(result.out.find(withFolder(rule.expected, dir.path())), std::string::npos)
            << rule.name << ":\n" << result.out;
        EXPECT_EQ(result.out.find(": skipped") != std::string::npos, rule.expected.find(": skipped") != std::string::npos)
            << rule.name << ":\n" << result.out;
    }
}

// A pair named many times is looked for and checked once, in the order first
// named, whatever its case; every distinct pair is still checked.
TEST(ToolDoctorTest, PairsNamedMoreThanOnceAreCheckedOnce) {
    std::string ids = "1209:0001";
    for (int i = 0; i < 99; ++i)
        ids += i % 2 ? ",1209:0001" : ",04B4:8613";
    ids += ",04b4:8613,1209:0002";
    TempDir dir;
    writeWholeFile(dir.file("a/99-daq.rules"), "ATTR{idVendor}==\"04b4\", ATTR{idProduct}==\"8613\"\n");
    const ChildResult result = runTool(dir.path(), {"doctor", "--udev-rules", dir.file("a")}, {{"KVD4093_USB_IDS", ids}});
    EXPECT_NE(result.out.find(kCross + "no USB device 1209:0001,04b4:8613,1209:0002 is present"), std::string::npos)
        << result.out;
    std::vector<std::string> ruleLines;
    for (const std::string &line : linesOf(result.out))
        if (line.find("udev rule") != std::string::npos)
            ruleLines.push_back(line);
    const std::string looked = " (looked in " + dir.file("a") + ")";
    EXPECT_EQ(ruleLines, (std::vector<std::string>{
                             kCross + "no udev rule names 1209:0001" + looked,
                             kTick + "udev rule " + dir.file("a/99-daq.rules") + " names 04b4:8613",
                             kCross + "no udev rule names 1209:0002" + looked,
                         }));
}

TEST(ToolDoctorTest, UdevRuleFoldersThatNameNoFolderAreAUsageError) {
    TempDir dir;
    for (const char *folders : {"--udev-rules=", "--udev-rules=::"})
        EXPECT_EQ(runTool(dir.path(), {"doctor", folders}).exitCode, 2) << folders;
}

} // namespace
} // namespace kvd::testing
