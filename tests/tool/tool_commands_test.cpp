// The kvd4093 tool's commands other than acquire, run as a person runs them,
// on virtual cards: list, the digital lines, DA, trigger, settings, the
// error log, help, and the exit status and message of every kind of failure.
#include <filesystem>
#include <optional>
#include <gtest/gtest.h>

#include "support/test_support.h"
#include "tool/tool_process.h"

namespace kvd::testing {
namespace {

using Args = std::vector<std::string>;

std::string joined(const Args &arguments) {
    std::string text;
    for (const std::string &argument : arguments)
        text += (text.empty() ? "" : " ") + argument;
    return text;
}

class ToolCommandTest : public ::testing::Test {
protected:
    ChildResult run(const Args &arguments, const Environment &environment = {}) {
        return runTool(dir_.path(), arguments, environment);
    }
    TempDir dir_;
};

TEST_F(ToolCommandTest, ListShowsLogicalNumberPhysicalIdAndVersionOfEveryCard) {
    const ChildResult result = run({"list"}, {{"KVD4093_VIRTUAL_CARDS", "7,9,5"}});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "logical  physical ID  version\n"
                          "      0            7  1.0.1\n"
                          "      1            9  1.0.1\n"
                          "      2            5  1.0.1\n");
}

TEST_F(ToolCommandTest, VirtualOptionListsTheSameCardsAsTheVariable) {
    const ChildResult byVariable = run({"list"}, {{"KVD4093_VIRTUAL_CARDS", "7,9,5"}});
    const ChildResult byOption = run({"list", "--virtual=7,9,5"});
    const ChildResult optionFirst = run({"--virtual=7,9,5", "list"});
    EXPECT_EQ(byOption.exitCode, 0) << byOption.err;
    EXPECT_EQ(byOption.out, byVariable.out);
    EXPECT_EQ(optionFirst.out, byVariable.out);
}

TEST_F(ToolCommandTest, BareVirtualOptionIsOneCardWithIdZero) {
    const ChildResult result = run({"list", "--virtual"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "logical  physical ID  version\n      0            0  1.0.1\n");
}

TEST_F(ToolCommandTest, ListWithoutCardsSaysSoAndHowToNameTheCardsPair) {
    const ChildResult result = run({"list"});
    EXPECT_EQ(result.exitCode, 1) << result.err;
    EXPECT_EQ(result.out, "No KVD4093 card found.\n"
                          "No USB vendor:product pair is set for the card. Set KVD4093_USB_IDS to the\n"
                          "card's pair as lsusb shows it (hex, e.g. KVD4093_USB_IDS=1209:0001), or use\n"
                          "virtual cards with --virtual or KVD4093_VIRTUAL_CARDS.\n");
}

// An empty list of virtual cards is no virtual card: the real ones count.
TEST_F(ToolCommandTest, ListWithAnEmptyListOfVirtualCardsSaysSoAndExitsOne) {
    const ChildResult result = run({"list"}, {{"KVD4093_VIRTUAL_CARDS", ""}});
    EXPECT_EQ(result.exitCode, 1) << result.err;
    EXPECT_EQ(result.out, run({"list"}).out);
}

// The DO lines loop back to the DI lines of a virtual card.
struct Loopback {
    std::string lines;
    std::string doRow;
    std::string value;
};

void PrintTo(const Loopback &loopback, std::ostream *out) { *out << "do " << loopback.lines; }

class ToolLoopbackTest : public ToolCommandTest, public ::testing::WithParamInterface<Loopback> {};

TEST_P(ToolLoopbackTest, DoThenDiReadsTheOutputsBack) {
    const Loopback &loopback = GetParam();
    const ChildResult result = run({"do", loopback.lines, "--virtual"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "line    0  1  2  3  4  5  6  7  8  9 10 11 12 13 14 15\n"
                          "DO    " + loopback.doRow + "\n"
                          "DI    " + loopback.doRow + "\n"
                          "DO = " + loopback.value + ", DI = " + loopback.value + "\n");
}

INSTANTIATE_TEST_SUITE_P(
    Patterns, ToolLoopbackTest,
    ::testing::Values(Loopback{"0x00ff", "  1  1  1  1  1  1  1  1  0  0  0  0  0  0  0  0", "0x00ff"},
                      Loopback{"0xa55a", "  0  1  0  1  1  0  1  0  1  0  1  0  0  1  0  1", "0xa55a"},
                      Loopback{"1,0,1,1", "  1  0  1  1  0  0  0  0  0  0  0  0  0  0  0  0", "0x000d"},
                      Loopback{"0", "  0  0  0  0  0  0  0  0  0  0  0  0  0  0  0  0", "0x0000"}));

TEST_F(ToolCommandTest, DiOfAFreshVirtualCardReadsAllLinesLow) {
    const ChildResult result = run({"di", "--virtual=3"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "line    0  1  2  3  4  5  6  7  8  9 10 11 12 13 14 15\n"
                          "DI      0  0  0  0  0  0  0  0  0  0  0  0  0  0  0  0\n"
                          "DI = 0x0000\n");
}

TEST_F(ToolCommandTest, DaWritesTheValueAndShowsWhatTheCardReports) {
    const ChildResult result = run({"da", "--channel", "2", "--value", "0xabc", "--setup", "4", "--virtual"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "wrote 2748 (0xabc) to DA channel 2 with setup code 4\n"
                          "DA values the card reports:\n"
                          "  channel 0: never written\n"
                          "  channel 1: never written\n"
                          "  channel 2: 2748 (0xabc)\n"
                          "  channel 3: never written\n"
                          "  channel 4: never written\n"
                          "  channel 5: never written\n"
                          "  channel 6: never written\n"
                          "  channel 7: never written\n");
}

TEST_F(ToolCommandTest, TrigSetsTheLevelAndShowsTheLevelByte) {
    const ChildResult result = run({"trig", "5000", "--virtual"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "trigger level 5000 set (level byte 128 of 255)\n");
}

TEST_F(ToolCommandTest, SecondCardIsChosenByLogicalNumberOrPhysicalId) {
    for (const Args &choice : {Args{"--card", "1"}, Args{"--id", "9"}}) {
        Args arguments = {"settings", "show", "--virtual=7,9,5"};
        arguments.insert(arguments.end(), choice.begin(), choice.end());
        const ChildResult result = run(arguments);
        EXPECT_EQ(result.exitCode, 0) << result.err;
        EXPECT_EQ(linesOf(result.out).at(0), "AD settings of card 1 (physical ID 9):") << choice[0];
    }
}

// A failed run: its exit status, its one message on standard error and
// nothing on standard output.
struct Failure {
    Args arguments;
    int exitCode;
    std::string message;
    std::optional<std::string> cards; // KVD4093_VIRTUAL_CARDS, when set
};

void PrintTo(const Failure &failure, std::ostream *out) { *out << joined(failure.arguments); }

// A failed library call: exit 1 and the library's message for the call,
// converted from GBK for the terminal (UTF-8 here), with its English
// rendering; for a missing card what to do, or the virtual cards there are.
Failure callFailure(const Args &arguments, const std::optional<std::string> &cards, const std::string &message) {
    return {arguments, 1, message, cards};
}

// A bad command line: exit 2 and what is wrong, before any card is touched
// (there is none here).
Failure badLine(const Args &arguments, const std::string &message) { return {arguments, 2, message, std::nullopt}; }

class ToolFailureTest : public ToolCommandTest, public ::testing::WithParamInterface<Failure> {};

TEST_P(ToolFailureTest, ExitsWithItsStatusAndOnlyItsMessage) {
    const Failure &failure = GetParam();
    const ChildResult result = run(failure.arguments, {{"KVD4093_VIRTUAL_CARDS", failure.cards}});
    EXPECT_EQ(result.exitCode, failure.exitCode);
    EXPECT_EQ(result.err, "kvd4093: " + failure.message + "\n");
    EXPECT_EQ(result.out, "");
}

const std::string kMissingCardAdvice = "\nTo see the cards there are: kvd4093 list\n"
                                       "To try without a card: add --virtual to the command\n"
                                       "To find out why no card is found: kvd4093 doctor";

INSTANTIATE_TEST_SUITE_P(
    MissingCards, ToolFailureTest,
    ::testing::Values(
        callFailure({"di", "--card", "3"}, "0",
                    "virtual card 3 does not exist: there is 1 virtual card, logical number 0 (--virtual=IDS makes "
                    "one card for each physical ID, e.g. --virtual=0,1,2,3)"),
        callFailure({"acquire", "--samples", "10"}, std::nullopt,
                    "KVD4093_CreateDevice failed: Sorry, there are no device drivers found in your "
                    "system[KVD4093_CreateDevice]" + kMissingCardAdvice),
        // "物理ID号=4的设备不存在" in UTF-8
        callFailure({"do", "1", "--id", "4"}, std::nullopt,
                    "KVD4093_CreateDeviceEx failed: \xe7\x89\xa9\xe7\x90\x86ID\xe5\x8f\xb7=4\xe7\x9a\x84\xe8\xae\xbe"
                    "\xe5\xa4\x87\xe4\xb8\x8d\xe5\xad\x98\xe5\x9c\xa8[KVD4093_CreateDeviceEx] (no device with physical ID 4 "
                    "exists)" + kMissingCardAdvice)));

INSTANTIATE_TEST_SUITE_P(
    Options, ToolFailureTest,
    ::testing::Values(
        badLine({"frobnicate"}, "unknown command \"frobnicate\"; kvd4093 --help lists the commands"),
        badLine({"acquir"}, "unknown command \"acquir\" (did you mean acquire?); kvd4093 --help lists the commands"),
        badLine({"setings", "show"},
                "unknown command \"setings\" (did you mean settings?); kvd4093 --help lists the commands"),
        badLine({"lst"}, "unknown command \"lst\" (did you mean list?); kvd4093 --help lists the commands"),
        badLine({"acq", "--virtual"}, "unknown command \"acq\" (did you mean acquire?); kvd4093 --help lists the commands"),
        badLine({"acquire", "--bogus", "1"}, "unknown option --bogus for acquire"),
        badLine({"acquire", "--rate", "abc"}, "--rate: \"abc\" is not a whole number"),
        badLine({"acquire", "--rate", "20M"}, "--rate: 20000000 is not between 1 and 10000000"),
        badLine({"acquire", "--rate=2.5"}, "--rate: \"2.5\" is not a whole number"),
        badLine({"acquire", "--rate"}, "--rate needs a value"),
        badLine({"acquire", "--samples", "5", "--samples", "6"}, "--samples is given twice"),
        badLine({"acquire", "--channels", "3-1"}, "--channels: \"3-1\" ends before it starts"),
        badLine({"acquire", "--channels", "0-x"}, "--channels: \"x\" is not a whole number"),
        badLine({"acquire", "--samples", "10", "--time", "1s"}, "give one of --samples, --time and --continuous"),
        badLine({"acquire", "--continuous", "--samples", "10"}, "give one of --samples, --time and --continuous"),
        badLine({"acquire", "--continuous", "--plot", "run.svg"},
                "--plot needs a known length: give --samples or --time, not --continuous"),
        badLine({"acquire", "--scan-rate", "1k", "--rate", "4k"}, "give --scan-rate or --rate (--Frequency), not both"),
        badLine({"acquire", "--scan-rate", "0"}, "--scan-rate: 0 is not between 1 and 10000000"),
        badLine({"acquire", "--output", "-", "--format", "txt"},
                "--format: \"txt\" is not one of csv, bin, sr, h5, npy, wav"),
        badLine({"acquire", "--format", "bin"}, "--format needs --output"),
        badLine({"acquire", "--time", "soon"}, "--time: \"soon\" is not a duration such as 500ms, 2s, 5m or 1h"),
        badLine({"acquire", "--output", "-", "--format", "h5"},
                "h5 needs a file it can complete at the end, not standard output (csv, bin, wav can stream)"),
        badLine({"acquire", "--output", "/dev/null", "--format", "npy"},
                "npy needs a file it can complete at the end, not /dev/null (csv, bin, wav can stream)"),
        badLine({"acquire", "--output", "run.sr", "--scale", "0"},
                "--scale: \"0\" has a gain of zero (give GAIN[,OFFSET][,UNIT], e.g. 0.000305,-10,V)"),
        badLine({"acquire", "--scale", "2,V"}, "--scale needs --output"),
        badLine({"acquire", "--output", "run.csv", "--scale", "1,2,V,x"},
                "--scale: \"1,2,V,x\" has more than three fields (give GAIN[,OFFSET][,UNIT], e.g. 0.000305,-10,V)"),
        badLine({"convert", "run.bin"}, "convert needs IN.bin and OUT, e.g. kvd4093 convert run.bin run.h5"),
        badLine({"acquire", "--plot", "run.png"}, "--plot: \"run.png\" must end in .svg"),
        badLine({"acquire", "--InputRange", "1", "--input-range", "2"}, "give --InputRange or --input-range, not both"),
        badLine({"acquire", "--rate", "10k", "--Frequency", "5k"}, "--Frequency and --rate set the same field: give one"),
        badLine({"acquire", "--card", "1", "--id", "2"}, "give --card or --id, not both"),
        badLine({"acquire", "--id", "256"}, "--id: 256 is not between 0 and 255"),
        badLine({"do"}, "do needs LINES, e.g. 0x00ff or 1,0,1"),
        badLine({"do", "0x10000"}, "do LINES: 65536 is not between 0 and 65535"),
        badLine({"do", "1,2"}, "do LINES: \"2\" for line 1 is not 0 or 1"),
        badLine({"da", "--channel", "1"}, "da needs --channel N and --value V"),
        badLine({"da", "--channel", "8", "--value", "1"}, "--channel: 8 is not between 0 and 7"),
        badLine({"da", "--channel", "0", "--value", "4096"}, "--value: 4096 is not between 0 and 4095"),
        badLine({"trig", "-1"}, "trig LEVEL: -1 is not between 0 and 10000"),
        badLine({"di", "extra"}, "unexpected \"extra\" for di"),
        badLine({"settings", "fly"}, "settings needs show, save or reset"),
        badLine({"list", "--virtual=7,300"}, "--virtual: \"7,300\" is not a list of IDs 0 to 255 such as 7,9,5")));

TEST_F(ToolCommandTest, TheLibraryWritesItsErrorLogIntoTheWorkingDirectoryAtExit) {
    run({"di", "--card", "3", "--virtual"});
    const std::string log = readWholeFile(dir_.file("KVD4093Err.log"));
    EXPECT_NE(log.find("   [KVD4093_CreateDevice] Sorry, there are no device drivers found in your system  1(Dec)\r\n"),
              std::string::npos)
        << log;
}

TEST_F(ToolCommandTest, UnwritableOutputFileExitsOneNamingTheFile) {
    const ChildResult result = run({"acquire", "--virtual", "--output", dir_.file("missing/run.csv")});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err.rfind("kvd4093: cannot create " + dir_.file("missing/run.csv") + ": ", 0), 0u) << result.err;
}

TEST_F(ToolCommandTest, NoCommandShowsTheOverviewOnStandardErrorAndExitsTwo) {
    const ChildResult result = run({});
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_EQ(result.out, "");
    EXPECT_NE(result.err.find("Usage: kvd4093 COMMAND"), std::string::npos);
}

TEST_F(ToolCommandTest, EveryCommandHasHelpThatExitsZero) {
    const ChildResult overview = run({"--help"});
    EXPECT_EQ(overview.exitCode, 0);
    for (const std::string command : {"list", "acquire", "di", "do", "da", "trig", "settings", "log", "panel"}) {
        EXPECT_NE(overview.out.find("\n  " + command + " "), std::string::npos) << command;
        const ChildResult help = run({command, "--help"});
        EXPECT_EQ(help.exitCode, 0) << command;
        EXPECT_EQ(help.out.rfind("Usage: kvd4093 " + command, 0), 0u) << command;
        EXPECT_EQ(help.err, "") << command;
    }
}

TEST_F(ToolCommandTest, LogShowsWhatOpeningACardLogged) {
    const ChildResult named = run({"log", "--virtual=7", "--id", "4", "KVD4093_CreateDeviceEx", "KVD4093_InitDeviceAD"});
    EXPECT_EQ(named.exitCode, 0) << named.err;
    EXPECT_EQ(named.out, "\xe7\x89\xa9\xe7\x90\x86ID\xe5\x8f\xb7=4\xe7\x9a\x84\xe8\xae\xbe\xe5\xa4\x87\xe4\xb8\x8d"
                         "\xe5\xad\x98\xe5\x9c\xa8[KVD4093_CreateDeviceEx] (no device with physical ID 4 exists)\n"
                         "No error message[KVD4093_InitDeviceAD]\n");
    const ChildResult every = run({"log", "--virtual=7", "--card", "1"});
    EXPECT_EQ(every.out, "Sorry, there are no device drivers found in your system[KVD4093_CreateDevice]\n");
    const ChildResult nothing = run({"log", "--virtual"});
    EXPECT_EQ(nothing.out, "The error log holds no entry.\n");
}

TEST_F(ToolCommandTest, SettingsAreSavedPerCardUnderTheConfigurationDirectory) {
    const ChildResult saved = run({"settings", "save", "--virtual=7", "--channels", "2-3", "--rate", "10k", "--gains", "2"});
    ASSERT_EQ(saved.exitCode, 0) << saved.err;
    const ChildResult shown = run({"settings", "show", "--virtual=7"});
    ASSERT_EQ(shown.exitCode, 0) << shown.err;
    const std::vector<std::string> lines = linesOf(shown.out);
    ASSERT_EQ(lines.size(), 18u) << shown.out;
    EXPECT_EQ(lines[0], "AD settings of card 0 (physical ID 7):");
    EXPECT_EQ(lines[3], "FirstChannel   = 2");
    EXPECT_EQ(lines[4], "LastChannel    = 3");
    EXPECT_EQ(lines[5], "Frequency      = 10000");
    EXPECT_EQ(lines[9], "Gains          = 2");
    EXPECT_TRUE(std::filesystem::exists(dir_.file("config/Olm/KVD4093-virtual.reg")));
    EXPECT_FALSE(std::filesystem::exists(dir_.file("home")));

    const ChildResult otherCard = run({"settings", "show", "--virtual=8"});
    EXPECT_EQ(linesOf(otherCard.out).at(5), "Frequency      = 25000");

    const ChildResult reset = run({"settings", "reset", "--virtual=7"});
    ASSERT_EQ(reset.exitCode, 0) << reset.err;
    EXPECT_EQ(linesOf(reset.out).at(5), "Frequency      = 25000");
    EXPECT_EQ(linesOf(run({"settings", "show", "--virtual=7"}).out).at(3), "FirstChannel   = 0");
}

} // namespace
} // namespace kvd::testing
