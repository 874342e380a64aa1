// kvd4093 acquire on a group of virtual cards: the merged columns, the cards
// in the metadata, the wiring check and the refused lists.
#include <regex>

#include <gtest/gtest.h>

#include "support/test_support.h"
#include "tool/format_readers.h"
#include "tool/tool_process.h"

namespace kvd::testing {
namespace {

using Args = std::vector<std::string>;

class ToolGroupTest : public ::testing::Test {
protected:
    ChildResult acquire(const Args &more) {
        Args arguments = {"acquire", "--virtual=7,9,5", "--channels", "0-1", "--rate", "20k"};
        arguments.insert(arguments.end(), more.begin(), more.end());
        return runTool(dir_.path(), arguments);
    }
    TempDir dir_;
};

// On one clock every card takes scan k at the same tick of the bench's
// signal: card 9's columns equal card 7's scan by scan.
TEST_F(ToolGroupTest, CsvHasEveryCardsColumnsAndTheirSamplesAgreeScanByScan) {
    const ChildResult result = acquire({"--id", "7,9", "--samples", "3000", "--output", "run.csv"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const std::vector<std::string> lines = linesOf(readWholeFile(dir_.file("run.csv")));
    ASSERT_EQ(lines.size(), 3001u);
    EXPECT_EQ(lines[0], "scan,time_s,ID7:ch0,ID7:ch1,ID9:ch0,ID9:ch1");
    const std::regex row("([0-9]+),[0-9.]+,([0-9]+),([0-9]+),([0-9]+),([0-9]+)");
    for (size_t i = 1; i < lines.size(); ++i) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(lines[i], match, row)) << lines[i];
        EXPECT_EQ(match[1].str(), std::to_string(i - 1));
        EXPECT_EQ(match[2].str(), match[4].str()) << lines[i];
        EXPECT_EQ(match[3].str(), match[5].str()) << lines[i];
    }
}

TEST_F(ToolGroupTest, SidecarAndSigrokMetadataNameTheCards) {
    ASSERT_EQ(acquire({"--card", "2,0", "--samples", "500", "--output", "run.bin"}).exitCode, 0);
    const std::string sidecar = readWholeFile(dir_.file("run.bin.json"));
    EXPECT_TRUE(std::regex_search(sidecar, std::regex(R"("group_cards": *\[\s*\{\s*"logical_number": *2,\s*)"
                                                      R"("physical_id": *5\s*\},\s*\{\s*"logical_number": *0,)"
                                                      R"(\s*"physical_id": *7\s*\})")))
        << sidecar;
#if defined(KVD4093_TOOL_HAVE_LIBZIP)
    ASSERT_EQ(acquire({"--card", "2,0", "--samples", "500", "--output", "run.sr"}).exitCode, 0);
    const std::string metadata = zipMember(dir_.file("run.sr"), "metadata");
    EXPECT_NE(metadata.find("group physical ids = 5,7\n"), std::string::npos) << metadata;
    EXPECT_NE(metadata.find("analog3 = ID7:ch0\n"), std::string::npos) << metadata;
#endif
}

// The sidecar's cards come back: a group's bin converts to the group's CSV.
TEST_F(ToolGroupTest, ConvertReadsTheCardsBackFromTheSidecar) {
    ASSERT_EQ(acquire({"--id", "9,7", "--samples", "200", "--output", "run.bin"}).exitCode, 0);
    ASSERT_EQ(acquire({"--id", "9,7", "--samples", "200", "--output", "direct.csv"}).exitCode, 0);
    const ChildResult converted = runTool(dir_.path(), {"convert", "run.bin", "run.csv"});
    ASSERT_EQ(converted.exitCode, 0) << converted.err;
    EXPECT_EQ(linesOf(readWholeFile(dir_.file("run.csv")))[0], "scan,time_s,ID9:ch0,ID9:ch1,ID7:ch0,ID7:ch1");
    EXPECT_EQ(readWholeFile(dir_.file("run.csv")), readWholeFile(dir_.file("direct.csv")));
}

// The virtual cards' waveforms are one signal on the bench: on a shared
// clock every card takes scan k at the same tick; on clocks of their own,
// started one after the other, each card after the first is behind by the
// scans between the starts (paced cards: each start waits for the set-up's
// 512 samples of the card before it).
struct WiringCase {
    const char *clock;
    int exitCode;
    const char *line; // what the line of every card after the first says
};

class ToolWiringCheckTest : public ToolGroupTest, public ::testing::WithParamInterface<WiringCase> {};

TEST_P(ToolWiringCheckTest, ReportsEachCardsLagBehindTheFirst) {
    Args arguments = {"acquire", "--virtual=7,9,5", "--channels", "0-1", "--rate", "20k", "--id", "7,9,5"};
    arguments.insert(arguments.end(), {"--clock", GetParam().clock, "--samples", "9000", "--check-sync", "0"});
    const ChildResult result = runTool(dir_.path(), arguments, {{"KVD4093_VIRTUAL_PACING", "on"}});
    EXPECT_EQ(result.exitCode, GetParam().exitCode) << result.err;
    for (const char *card : {"ID9", "ID5"}) {
        std::smatch line;
        ASSERT_TRUE(std::regex_search(result.out, line, std::regex(std::string(card) + ": ([0-9]+) scans(.*)\n")))
            << result.out;
        EXPECT_EQ(line[2].str(), GetParam().line) << result.out;
        EXPECT_EQ(line[1].str() == "0", GetParam().exitCode == 0) << result.out;
    }
}

INSTANTIATE_TEST_SUITE_P(Clocks, ToolWiringCheckTest,
                         ::testing::Values(WiringCase{"shared", 0, ": aligned"},
                                           WiringCase{"independent", 1, " behind ID7: the clock is not shared"}),
                         [](const auto &info) { return std::string(info.param.clock); });

struct RefusedCase {
    Args arguments;
    const char *message;
};

class ToolGroupRefusalTest : public ToolGroupTest, public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(ToolGroupRefusalTest, IsAUsageError) {
    const ChildResult result = acquire(GetParam().arguments);
    EXPECT_EQ(result.exitCode, 2) << result.err;
    EXPECT_NE(result.err.find(GetParam().message), std::string::npos) << result.err;
}

INSTANTIATE_TEST_SUITE_P(
    BadLists, ToolGroupRefusalTest,
    ::testing::Values(RefusedCase{{"--card", "0,,1"}, "--card"}, RefusedCase{{"--card", "0,x"}, "--card"},
                      RefusedCase{{"--id", "7,7"}, "--id: 7 is listed twice"},
                      RefusedCase{{"--id", "7,9", "--clock-codes", "1"}, "is not OUT,IN"},
                      RefusedCase{{"--id", "7,9", "--clock-codes", "1,300"}, "--clock-codes IN"},
                      RefusedCase{{"--id", "7,9", "--clock", "both"}, "is not shared or independent"},
                      RefusedCase{{"--id", "7", "--check-sync", "0"}, "need a group"}));

} // namespace
} // namespace kvd::testing
