// How kvd4093 acquire ends: a stop signal (Ctrl-C, SIGTERM, SIGHUP) stops the
// card at once, even while a read waits, and keeps valid files; an output
// that fails mid-run (a pipe whose reader quits) still stops the card; a
// bad output path fails before the card is touched and leaves no file; a
// very long function name for the log is echoed whole.
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

// The data of the last packet on the AD command pipe in a trace: the stop
// of an acquisition ends with CMD_AD_RUN 0, "0300...".
std::string lastAdCommand(const std::string &trace) {
    std::string last;
    for (const std::string &line : linesOf(trace))
        if (line.find("BULK_WRITE pipe=0 ") != std::string::npos)
            last = line.substr(line.find("data=") + 5, 4);
    return last;
}

struct StopSignal {
    int number;
    int exitCode;
    std::string name;
};

void PrintTo(const StopSignal &signal, std::ostream *out) { *out << signal.name; }

class ToolStopSignalTest : public ::testing::TestWithParam<StopSignal> {
protected:
    TempDir dir_;
};

// The binary file and its sidecar hold what the summary counts.
TEST_P(ToolStopSignalTest, StopsTheCardKeepsTheFilesAndExitsWith128PlusTheSignal) {
    const StopSignal &stop = GetParam();
    ToolProcess tool(dir_.path(),
                     {"acquire", "--virtual", "--channels", "0-1", "--rate", "20k", "--time", "60s", "--output",
                      "run.bin"},
                     {{"KVD4093_VIRTUAL_PACING", "on"}, {"KVD4093_TRACE", dir_.file("trace.txt")}});
    waitForContent(dir_.file("run.bin"));
    tool.signal(stop.number);
    const ChildResult result = tool.wait(std::chrono::seconds(20));

    EXPECT_EQ(result.exitCode, stop.exitCode) << result.err;
    const uint64_t scans = acquiredScans(result.out);
    EXPECT_NE(result.out.find("stopped by " + stop.name + " after " + std::to_string(scans) + " of 600000 scans\n"),
              std::string::npos)
        << result.out;
    EXPECT_EQ(std::filesystem::file_size(dir_.file("run.bin")), scans * 2 * 2);
    const std::string sidecar = readWholeFile(dir_.file("run.bin.json"));
    EXPECT_NE(sidecar.find("\"scans\": " + std::to_string(scans) + ",\n"), std::string::npos) << sidecar;
    EXPECT_NE(sidecar.find("\"complete\": false,\n"), std::string::npos) << sidecar;
    EXPECT_EQ(lastAdCommand(readWholeFile(dir_.file("trace.txt"))), "0300");
}

INSTANTIATE_TEST_SUITE_P(Signals, ToolStopSignalTest,
                         ::testing::Values(StopSignal{SIGINT, 130, "Ctrl-C"}, StopSignal{SIGTERM, 143, "SIGTERM"},
                                           StopSignal{SIGHUP, 129, "SIGHUP"}));

// timeout, for one, signals the process and then its group: the second
// SIGTERM does not cut the stop short.
TEST(ToolStopTest, ASecondSigtermLetsTheStopFinish) {
    TempDir dir;
    ToolProcess tool(dir.path(),
                     {"acquire", "--virtual", "--channels", "0-1", "--rate", "20k", "--continuous", "--output",
                      "run.bin"},
                     {{"KVD4093_VIRTUAL_PACING", "on"}});
    waitForContent(dir.file("run.bin"));
    tool.signal(SIGTERM);
    tool.signal(SIGTERM);
    const ChildResult result = tool.wait(std::chrono::seconds(20));
    EXPECT_EQ(result.exitCode, 143) << result.err;
    EXPECT_NE(result.out.find("stopped by SIGTERM after "), std::string::npos) << result.out;
    EXPECT_NE(readWholeFile(dir.file("run.bin.json")).find("\"scans\": " + std::to_string(acquiredScans(result.out))),
              std::string::npos);
}

// At one sample a second the set-up's first read alone waits 512 s; the
// stop comes from another thread, so the waiting read returns at once.
TEST(ToolStopTest, CtrlCStopsAWaitingReadAtOnce) {
    TempDir dir;
    ToolProcess tool(dir.path(),
                     {"acquire", "--virtual", "--channels", "0-1", "--rate", "1", "--time", "60s", "--output",
                      "run.csv"},
                     {{"KVD4093_VIRTUAL_PACING", "on"}, {"KVD4093_TRACE", dir.file("trace.txt")}});
    waitForText(dir.file("trace.txt"), kTracedAdStart);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    tool.signal(SIGINT);
    const ChildResult result = tool.wait(std::chrono::seconds(20));
    EXPECT_EQ(result.exitCode, 130) << result.err;
    EXPECT_NE(result.out.find("stopped by Ctrl-C after 0 of 30 scans\n"), std::string::npos) << result.out;
    EXPECT_EQ(readWholeFile(dir.file("run.csv")), "scan,time_s,ch0,ch1\n");
}

// A reader that quits: the next write fails with EPIPE (not a silent death
// by SIGPIPE), the tool says so, exits 1, and the card was stopped first.
TEST(ToolStopTest, AReaderThatQuitsIsAWriteErrorAndTheCardIsStopped) {
    TempDir dir;
    const std::string script = "\"$0\" acquire --virtual --continuous --output - 2>err.txt | head -c 1000 >/dev/null;"
                               " exit 0";
    ChildProcess shell("/bin/sh", {"-c", script, KVD4093_TOOL_PATH}, dir.path(),
                       toolEnvironment(dir.path(), {{"KVD4093_TRACE", dir.file("trace.txt")}}));
    const ChildResult result = shell.wait(std::chrono::seconds(20));
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const std::string err = readWholeFile(dir.file("err.txt"));
    EXPECT_NE(err.find("kvd4093: cannot write standard output: Broken pipe\n"), std::string::npos) << err;
    EXPECT_EQ(lastAdCommand(readWholeFile(dir.file("trace.txt"))), "0300");
}

// Every output path is tried before the card is touched: one bad path fails
// the run with no driver request made and no file left behind.
TEST(ToolStopTest, ABadOutputPathFailsBeforeTheCardAndLeavesNoFile) {
    TempDir dir;
    const ChildResult result =
        runTool(dir.path(), {"acquire", "--virtual", "--output", "ok.bin", "--plot", "missing/x.svg"},
                {{"KVD4093_TRACE", dir.file("trace.txt")}});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, "kvd4093: cannot create missing/x.svg: No such file or directory\n");
    EXPECT_FALSE(std::filesystem::exists(dir.file("ok.bin")));
    EXPECT_FALSE(std::filesystem::exists(dir.file("ok.bin.json")));
    EXPECT_FALSE(hasContent(dir.file("trace.txt")));
}

TEST(ToolStopTest, AFailedOpenLeavesNoFileButKeepsOnesThatWereThere) {
    TempDir dir;
    {
        std::FILE *earlier = std::fopen(dir.file("earlier.svg").c_str(), "w");
        std::fputs("<svg/>", earlier);
        std::fclose(earlier);
    }
    const ChildResult result = runTool(dir.path(), {"acquire", "--output", "new.csv", "--plot", "earlier.svg"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("KVD4093_CreateDevice failed"), std::string::npos) << result.err;
    EXPECT_FALSE(std::filesystem::exists(dir.file("new.csv")));
    EXPECT_TRUE(std::filesystem::exists(dir.file("earlier.svg")));
}

// The library's answer echoes the name it is asked about.
TEST(ToolLogTest, AVeryLongNameIsEchoedWhole) {
    TempDir dir;
    const std::string name(5000, 'A');
    const ChildResult result = runTool(dir.path(), {"log", "--virtual", name});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "No error message[" + name + "]\n");
}

} // namespace
} // namespace kvd::testing
