// kvd4093 as a newcomer meets it, on a machine without a card: what a
// failure to find a card says and what to do next, the English beside the
// library's Chinese, short options, -V, a suggestion for a mistyped option,
// durations in minutes and hours, and `list` without a card.
#include <filesystem>
#include <optional>

#include <gtest/gtest.h>

#include "support/test_support.h"
#include "tool/tool_process.h"

namespace kvd::testing {
namespace {

using Args = std::vector<std::string>;
using Fragments = std::vector<std::string>;

// A command line and what it must show: its exit status and fragments of
// its standard error and standard output.
struct Line {
    Args arguments;
    std::optional<std::string> cards; // KVD4093_VIRTUAL_CARDS, when set
    int exitCode;
    Fragments err;
    Fragments out = {};
};

void PrintTo(const Line &run, std::ostream *out) {
    *out << (run.cards ? "KVD4093_VIRTUAL_CARDS=" + *run.cards + " " : "") << "kvd4093";
    for (const std::string &argument : run.arguments)
        *out << " " << argument;
}

class ToolNewcomerTest : public ::testing::TestWithParam<Line> {
protected:
    ChildResult run(const Args &arguments, const Environment &environment = {}) {
        return runTool(dir_.path(), arguments, environment);
    }
    TempDir dir_;
};

TEST_P(ToolNewcomerTest, ExitsWithItsStatusAndSaysWhatItShould) {
    const Line &expected = GetParam();
    const ChildResult result = run(expected.arguments, {{"KVD4093_VIRTUAL_CARDS", expected.cards}});
    EXPECT_EQ(result.exitCode, expected.exitCode) << result.err;
    for (const std::string &fragment : expected.err)
        EXPECT_NE(result.err.find(fragment), std::string::npos) << fragment << "\nin:\n" << result.err;
    for (const std::string &fragment : expected.out)
        EXPECT_NE(result.out.find(fragment), std::string::npos) << fragment << "\nin:\n" << result.out;
}

// What a failure to find a real card ends with.
const std::string kListAdvice = "\nTo see the cards there are: kvd4093 list\n";
const std::string kVirtualAdvice = "\nTo try without a card: add --virtual to the command\n";
// "物理ID号=7的设备不存在" in UTF-8
const std::string kNoId7 = "\xe7\x89\xa9\xe7\x90\x86ID\xe5\x8f\xb7=7\xe7\x9a\x84\xe8\xae\xbe\xe5\xa4\x87\xe4\xb8\x8d"
                           "\xe5\xad\x98\xe5\x9c\xa8";

INSTANTIATE_TEST_SUITE_P(
    MissingCards, ToolNewcomerTest,
    ::testing::Values(
        Line{{"acquire", "--samples", "10"}, std::nullopt, 1,
            {"kvd4093: KVD4093_CreateDevice failed: Sorry, there are no device drivers found in your "
             "system[KVD4093_CreateDevice]\n",
             kListAdvice, kVirtualAdvice}},
        Line{{"di", "--id", "7"}, std::nullopt, 1,
            {"kvd4093: KVD4093_CreateDeviceEx failed: " + kNoId7 +
                 "[KVD4093_CreateDeviceEx] (no device with physical ID 7 exists)\n",
             kListAdvice, kVirtualAdvice}},
        Line{{"di", "--virtual", "--card", "3"}, std::nullopt, 1,
            {"kvd4093: virtual card 3 does not exist: there is 1 virtual card, logical number 0 "
             "(--virtual=IDS makes one card for each physical ID, e.g. --virtual=0,1,2,3)\n"}},
        Line{{"trig", "100", "-c", "5"}, "7,9,5", 1,
            {"kvd4093: virtual card 5 does not exist: there are 3 virtual cards, logical number 0 to 2 "}},
        Line{{"do", "1", "--id", "4"}, "7,9,5", 1,
            {"kvd4093: no virtual card has physical ID 4: the virtual cards' IDs are 7,9,5 "
             "(--virtual=IDS chooses them)\n"}},
        Line{{"di"}, "abc", 1,
            {"KVD4093_VIRTUAL_CARDS=\"abc\" is malformed (entry 1 (\"abc\") is not a number from 0 to 255), so no "
             "virtual card was made: write physical IDs 0 to 255 between commas, e.g. KVD4093_VIRTUAL_CARDS=7,9,5.\n",
             kListAdvice}},
        Line{{"log", "--virtual=7", "--id", "9"}, std::nullopt, 0, {},
            {"\xe7\x89\xa9\xe7\x90\x86ID\xe5\x8f\xb7=9\xe7\x9a\x84\xe8\xae\xbe\xe5\xa4\x87\xe4\xb8\x8d\xe5\xad\x98\xe5"
             "\x9c\xa8[KVD4093_CreateDeviceEx] (no device with physical ID 9 exists)\n"}}));

INSTANTIATE_TEST_SUITE_P(
    ListWithoutACard, ToolNewcomerTest,
    ::testing::Values(Line{{"list"}, "abc", 1, {}, {"No KVD4093 card found.\nKVD4093_VIRTUAL_CARDS=\"abc\" is malformed "}},
                      Line{{"list"}, "7,,9", 1, {}, {"(entry 2 is empty), so no virtual card was made"}},
                      Line{{"list"}, "", 1, {}, {"No KVD4093 card found.\nNo USB vendor:product pair"}}));

INSTANTIATE_TEST_SUITE_P(
    Conventions, ToolNewcomerTest,
    ::testing::Values(
        Line{{"-V"}, std::nullopt, 0, {}, {"kvd4093 ", "\nlibrary: "}},
        Line{{"acquire", "--rat", "5k"}, std::nullopt, 2, {"kvd4093: unknown option --rat for acquire (did you mean --rate?)\n"}},
        Line{{"acquire", "--sample=5"}, std::nullopt, 2, {"unknown option --sample for acquire (did you mean --samples?)\n"}},
        Line{{"settings", "save", "--inputrange", "2"}, std::nullopt, 2,
            {"unknown option --inputrange for settings (did you mean --InputRange?)\n"}},
        Line{{"di", "--virtul"}, std::nullopt, 2, {"unknown option --virtul for di (did you mean --virtual?)\n"}},
        Line{{"acquire", "--frobnicate"}, std::nullopt, 2, {"kvd4093: unknown option --frobnicate for acquire\n"}},
        Line{{"settings", "show", "-c", "1", "--virtual=7,9,5"}, std::nullopt, 0, {},
            {"AD settings of card 1 (physical ID 9):\n"}},
        Line{{"settings", "show", "-c1", "--virtual=7,9,5"}, std::nullopt, 0, {},
            {"AD settings of card 1 (physical ID 9):\n"}},
        Line{{"acquire", "--virtual", "-n", "3", "-r", "10k", "-f", "csv", "-o", "-"}, std::nullopt, 0,
            {"10000 samples/s (5000 scans/s), 3 scans\n"}, {"scan,time_s,ch0,ch1\n0,0.0000000,", "\n2,0.0004000,"}},
        Line{{"acquire", "--virtual", "-n", "3", "-o-", "-fbin"}, std::nullopt, 0, {"acquired 3 scans (6 samples)"}},
        Line{{"acquire", "--virtual", "--channels", "0", "-r", "10", "-t", "0.01h"}, std::nullopt, 0, {},
            {"10 samples/s (10 scans/s), 360 scans\n", "acquired 360 scans"}},
        Line{{"acquire", "--virtual", "--channels", "0", "-r", "100", "-t", "0.5m"}, std::nullopt, 0, {},
            {"100 samples/s (100 scans/s), 3000 scans\n", "acquired 3000 scans"}},
        Line{{"acquire", "--time", "5min"}, std::nullopt, 2,
            {"kvd4093: --time: \"5min\" is not a duration such as 500ms, 2s, 5m or 1h\n"}},
        Line{{"acquire", "--help"}, std::nullopt, 0, {},
            {"\nNumbers take k (x1000) or M (x1000000), durations ms, s, m or h: -r 25k, -t 5m.\n",
             "\n  -n, --samples N ", "\n  -t, --time T ", "\n  -r, --rate N ", "\n  -o, --output FILE ",
             "\n  -f, --format NAME ", "\n  -c, --card N "}},
        Line{{"help", "acquire"}, std::nullopt, 0, {}, {"Usage: kvd4093 acquire [options]\n"}},
        Line{{"help", "acquir"}, std::nullopt, 2, {"unknown command \"acquir\" (did you mean acquire?)"}}));

// The advice names `kvd4093 doctor` once the tool has that command, and
// only then.
TEST(ToolMissingCardTest, TheAdviceNamesTheDoctorExactlyWhenThereIsOne) {
    TempDir dir;
    const bool doctor = runTool(dir.path(), {"--help"}).out.find("\n  doctor ") != std::string::npos;
    const ChildResult result = runTool(dir.path(), {"di"});
    EXPECT_NE(result.err.find(kListAdvice), std::string::npos) << result.err;
    EXPECT_EQ(result.err.find("kvd4093 doctor") != std::string::npos, doctor) << result.err;
}

// Virtual cards keep their settings in a store of their own, so trying them
// leaves a real card's saved settings alone; KVD4093_SETTINGS names a store
// for both.
TEST(ToolSettingsStoreTest, VirtualCardsSaveInAStoreOfTheirOwnUnlessOneIsNamed) {
    TempDir dir;
    const std::string real = dir.file("config/Olm/KVD4093.reg");
    std::filesystem::create_directories(dir.file("config/Olm"));
    {
        std::FILE *file = std::fopen(real.c_str(), "wb");
        std::fputs("REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Olm\\KVD4093\\Device-7\\ADPara]\r\n"
                   "\"Frequency\"=dword:00001388\r\n\r\n",
                   file);
        std::fclose(file);
    }
    const std::string realBefore = readWholeFile(real);

    const ChildResult saved = runTool(dir.path(), {"settings", "save", "--virtual=7", "--rate", "10k"});
    ASSERT_EQ(saved.exitCode, 0) << saved.err;
    EXPECT_EQ(readWholeFile(real), realBefore);
    const std::string virtualStore = readWholeFile(dir.file("config/Olm/KVD4093-virtual.reg"));
    EXPECT_NE(virtualStore.find("[HKEY_CURRENT_USER\\Software\\Olm\\KVD4093-virtual\\Device-7\\ADPara]\r\n"
                                "\"CheckStsMode\"=dword:00000000\r\n"),
              std::string::npos)
        << virtualStore;
    EXPECT_NE(virtualStore.find("\"Frequency\"=dword:00002710\r\n"), std::string::npos) << virtualStore;

    const Environment named = {{"KVD4093_SETTINGS", dir.file("bench.reg")}};
    const ChildResult namedSave = runTool(dir.path(), {"settings", "save", "--virtual=7", "--rate", "20k"}, named);
    ASSERT_EQ(namedSave.exitCode, 0) << namedSave.err;
    EXPECT_NE(readWholeFile(dir.file("bench.reg")).find("[HKEY_CURRENT_USER\\Software\\Olm\\KVD4093\\Device-7\\ADPara]"),
              std::string::npos);
    EXPECT_EQ(linesOf(runTool(dir.path(), {"settings", "show", "--virtual=7"}, named).out).at(5),
              "Frequency      = 20000");
    EXPECT_EQ(linesOf(runTool(dir.path(), {"settings", "show", "--virtual=7"}).out).at(5), "Frequency      = 10000");
    EXPECT_EQ(readWholeFile(real), realBefore);
}

} // namespace
} // namespace kvd::testing
