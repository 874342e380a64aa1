// What users of other acquisition tools expect of kvd4093: --version,
// streaming to standard output, --scan-rate beside --rate, --continuous,
// the parameters shown when the acquisition starts, a progress bar that fits
// the terminal, and a warning for a field the card takes narrowed.
#include <chrono>
#include <csignal>
#include <filesystem>
#include <regex>
#include <thread>

#include <gtest/gtest.h>

#include "support/test_support.h"
#include "tool/tool_process.h"

namespace kvd::testing {
namespace {

using Args = std::vector<std::string>;

class ToolStreamTest : public ::testing::Test {
protected:
    ChildResult run(const Args &arguments, const Environment &environment = {}) {
        return runTool(dir_.path(), arguments, environment);
    }
    TempDir dir_;
};

TEST_F(ToolStreamTest, VersionNamesTheToolAndTheLibraryItRunsWith) {
    const ChildResult result = run({"--version"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_TRUE(std::regex_match(result.out, std::regex("kvd4093 [0-9]+\\.[0-9]+\\.[0-9]+\n"
                                                        "library: /.*/libkvd4093\\.so\\.([0-9.]+) \\(version \\1\\)\n")))
        << result.out;
}

TEST_F(ToolStreamTest, ShortHelpIsTheOverview) {
    const ChildResult shortHelp = run({"-h"});
    EXPECT_EQ(shortHelp.exitCode, 0);
    EXPECT_EQ(shortHelp.out, run({"--help"}).out);
    EXPECT_EQ(run({"acquire", "-h"}).out, run({"acquire", "--help"}).out);
}

// The CSV on standard output is the file's text; every word for a person
// goes to standard error.
TEST_F(ToolStreamTest, CsvOnStandardOutputIsTheFileAndTheReportGoesToStandardError) {
    const Args acquisition = {"acquire", "--virtual", "--channels", "0-3", "--rate", "100k", "--samples", "2000"};
    Args toFile = acquisition, toOutput = acquisition;
    toFile.insert(toFile.end(), {"--output", "run.csv"});
    toOutput.insert(toOutput.end(), {"--output", "-"});
    const ChildResult file = run(toFile);
    const ChildResult streamed = run(toOutput);
    ASSERT_EQ(streamed.exitCode, 0) << streamed.err;
    EXPECT_EQ(streamed.out, readWholeFile(dir_.file("run.csv")));
    EXPECT_EQ(linesOf(streamed.out).size(), 2001u);
    std::string report = file.out;
    report.erase(report.find("wrote run.csv\n"));
    EXPECT_EQ(std::regex_replace(streamed.err, std::regex("in [0-9.]+ s"), "in T s"),
              std::regex_replace(report, std::regex("in [0-9.]+ s"), "in T s"));
    EXPECT_FALSE(std::filesystem::exists(dir_.file("-")));
}

TEST_F(ToolStreamTest, BinaryOnStandardOutputIsTheRawSamplesWithoutASidecar) {
    const Args acquisition = {"acquire", "--virtual", "--channels", "0-1", "--rate", "50k", "--samples", "1000"};
    Args toFile = acquisition, toOutput = acquisition;
    toFile.insert(toFile.end(), {"--output", "run.bin"});
    toOutput.insert(toOutput.end(), {"--output", "-", "--format", "bin"});
    run(toFile);
    const ChildResult streamed = run(toOutput);
    ASSERT_EQ(streamed.exitCode, 0) << streamed.err;
    EXPECT_EQ(streamed.out.size(), 1000u * 2 * 2);
    EXPECT_EQ(streamed.out, readWholeFile(dir_.file("run.bin")));
    EXPECT_FALSE(std::filesystem::exists(dir_.file("-.json")));
}

// --scan-rate counts scans a second per channel: the card's Frequency is
// that times the number of channels.
TEST_F(ToolStreamTest, ScanRateIsRateOverChannels) {
    const ChildResult byScans = run({"acquire", "--virtual", "--channels", "0-3", "--scan-rate", "1k", "--samples",
                                     "100", "--output", "scans.csv"});
    const ChildResult byRate = run({"acquire", "--virtual", "--channels", "0-3", "--rate", "4k", "--samples", "100",
                                    "--output", "rate.csv"});
    ASSERT_EQ(byScans.exitCode, 0) << byScans.err;
    EXPECT_EQ(linesOf(byScans.out).at(0), "card 0 (physical ID 0): channels 0-3, 4000 samples/s (1000 scans/s), "
                                          "100 scans");
    EXPECT_EQ(readWholeFile(dir_.file("scans.csv")), readWholeFile(dir_.file("rate.csv")));
    EXPECT_EQ(linesOf(readWholeFile(dir_.file("scans.csv"))).at(2).substr(0, 12), "1,0.0010000,");
    const ChildResult tooFast = run({"acquire", "--virtual", "--channels", "0-3", "--scan-rate", "3M"});
    EXPECT_EQ(tooFast.exitCode, 2);
    EXPECT_EQ(tooFast.err, "kvd4093: --scan-rate 3000000 x 4 channels is above 10000000 samples a second\n");
}

// --continuous runs until a signal, writing as it goes; what was written is
// what the summary counts.
TEST_F(ToolStreamTest, ContinuousRunsUntilSigtermWritingAsItGoes) {
    ToolProcess tool(dir_.path(), {"acquire", "--virtual", "--channels", "0-1", "--rate", "20k", "--continuous",
                                   "--output", "run.csv"},
                     {{"KVD4093_VIRTUAL_PACING", "on"}});
    // Blocks reach the file while the acquisition runs.
    for (int waited = 0; waited < 20000 && linesOf(readWholeFile(dir_.file("run.csv"))).size() < 1000; waited += 10)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    tool.signal(SIGTERM);
    const ChildResult result = tool.wait(std::chrono::seconds(20));
    EXPECT_EQ(result.exitCode, 143) << result.err;
    EXPECT_EQ(linesOf(result.out).at(0), "card 0 (physical ID 0): channels 0-1, 20000 samples/s (10000 scans/s), "
                                         "until stopped");
    std::smatch match;
    ASSERT_TRUE(std::regex_search(result.out, match, std::regex("stopped by SIGTERM after ([0-9]+) scans\n")))
        << result.out;
    const std::vector<std::string> lines = linesOf(readWholeFile(dir_.file("run.csv")));
    EXPECT_GE(lines.size(), 1000u);
    EXPECT_EQ(std::to_string(lines.size() - 1), match[1].str());
    EXPECT_EQ(lines.back().substr(0, lines.back().find(',')), std::to_string(lines.size() - 2));
}

// In a 60-column terminal every redraw of the bar stays within 59 columns,
// so it never wraps onto a new line.
TEST_F(ToolStreamTest, ProgressBarFitsANarrowTerminal) {
    for (const char *columns : {"60", "30"}) {
        ToolProcess tool(dir_.path(), {"acquire", "--virtual", "--channels", "0-1", "--rate", "20k", "--time", "300ms"},
                         {{"KVD4093_VIRTUAL_PACING", "on"}, {"COLUMNS", columns}}, StandardError::Terminal);
        const ChildResult result = tool.wait();
        ASSERT_EQ(result.exitCode, 0) << result.out;
        EXPECT_EQ(result.err.find('\n'), std::string::npos);
        size_t drawn = 0;
        for (size_t start = 0, end; start < result.err.size(); start = end + 1) {
            end = std::min(result.err.find('\r', start), result.err.size());
            EXPECT_LT(end - start, size_t(std::stoi(columns))) << result.err.substr(start, end - start);
            drawn += end > start;
        }
        EXPECT_GT(drawn, 1u) << columns;
        EXPECT_NE(result.err.find("3000/3000 scans"), std::string::npos) << result.err;
    }
}

struct Narrowed {
    Args options;
    std::string warning;
};

void PrintTo(const Narrowed &narrowed, std::ostream *out) { *out << narrowed.warning; }

class ToolNarrowingTest : public ToolStreamTest, public ::testing::WithParamInterface<Narrowed> {};

// The warning names the value that reaches the card, once; the run goes on
// with the record as given, as the library sends it.
TEST_P(ToolNarrowingTest, WarnsOnceNamingWhatReachesTheCard) {
    const Narrowed &narrowed = GetParam();
    Args arguments = {"acquire", "--virtual", "--samples", "10", "--output", "run.csv"};
    arguments.insert(arguments.end(), narrowed.options.begin(), narrowed.options.end());
    const ChildResult result = run(arguments, {{"KVD4093_TRACE", dir_.file("trace.txt")}});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.err, "kvd4093: warning: " + narrowed.warning + "\n");
}

INSTANTIATE_TEST_SUITE_P(
    Fields, ToolNarrowingTest,
    ::testing::Values(Narrowed{{"--InputRange", "99"}, "InputRange 99 reaches the card as 3 (2 bits)"},
                      Narrowed{{"--channels", "0-300"}, "LastChannel 300 reaches the card as 44 (8 bits)"},
                      Narrowed{{"--TriggerDir", "6"}, "TriggerDir 6 reaches the card as 2 (2 bits)"},
                      Narrowed{{"--loops-of-group", "65536"}, "LoopsOfGroup 65536 reaches the card as 0 (16 bits)"},
                      Narrowed{{"--GroundingMode", "-1"}, "GroundingMode -1 reaches the card as 1 (1 bit)"},
                      Narrowed{{"--GroupInterval", "500000000"},
                               "GroupInterval 500000000 reaches the card as 705032704 ticks of 100 ns, not "
                               "5000000000"}));

// InputRange 99 travels as the library sends it: bits 11 and 12 of the range word, 0xB800.
TEST_F(ToolStreamTest, NarrowedFieldsAreSentAsTheLibrarySendsThem) {
    const ChildResult result = run({"acquire", "--virtual", "--InputRange", "99", "--channels", "0-300", "--samples",
                                    "10", "--output", "run.csv"},
                                   {{"KVD4093_TRACE", dir_.file("trace.txt")}});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const std::string trace = readWholeFile(dir_.file("trace.txt"));
    EXPECT_NE(trace.find("BULK_WRITE pipe=0 len=512 ret=512 ok=1 data=0100b8"), std::string::npos) << trace;
    // 0-300 scans channels 0 to 44: the configuration packet's bytes 1 and 2.
    EXPECT_NE(trace.find("BULK_WRITE pipe=0 len=512 ret=512 ok=1 data=02002c"), std::string::npos) << trace;
    const std::string header = linesOf(readWholeFile(dir_.file("run.csv"))).at(0);
    EXPECT_EQ(header.substr(header.rfind(',')), ",ch44");
    EXPECT_EQ(std::count(header.begin(), header.end(), ','), 46);
}

} // namespace
} // namespace kvd::testing
