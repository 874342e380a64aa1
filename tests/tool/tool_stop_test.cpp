// How kvd4093 acquire ends: a stop signal (Ctrl-C, SIGTERM, SIGHUP) stops the
// card at once, even while a read waits, and keeps valid files; one before
// the set-up starts nothing; an output that fails mid-run (a pipe whose
// reader quits, a file that cannot grow) or any other exception still stops
// the card; a bad output path fails before the card is touched and leaves
// no file; a very long function name for the log is echoed whole.
#include <chrono>
#include <csignal>
#include <filesystem>
#include <regex>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "support/test_support.h"
#include "tool/tool_process.h"

namespace kvd::testing {
namespace {

// The first two bytes of every packet on the AD command pipe in a trace: a
// set-up sends "0120", "0100", "0200", "0301" (start), a stop the same and
// then "0300".
std::vector<std::string> adCommands(const std::string &trace) {
    std::vector<std::string> commands;
    for (const std::string &line : linesOf(trace))
        if (line.find("BULK_WRITE pipe=0 ") != std::string::npos)
            commands.push_back(line.substr(line.find("data=") + 5, 4));
    return commands;
}

// The last of them: the stop of an acquisition ends with CMD_AD_RUN 0, "0300".
std::string lastAdCommand(const std::string &trace) {
    const std::vector<std::string> commands = adCommands(trace);
    return commands.empty() ? std::string() : commands.back();
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

// A reader that quits, as `head` does: the tool stops the card, says
// nothing more than its start line and exits with 128 + SIGPIPE, as
// `yes | head` does.
TEST(ToolStopTest, AReaderThatQuitsEndsTheToolQuietlyWithTheCardStopped) {
    TempDir dir;
    const std::string script = "{ \"$0\" acquire --virtual --continuous --output - 2>err.txt; echo $? >status.txt; }"
                               " | head -c 1000 >/dev/null";
    ChildProcess shell("/bin/sh", {"-c", script, KVD4093_TOOL_PATH}, dir.path(),
                       toolEnvironment(dir.path(), {{"KVD4093_TRACE", dir.file("trace.txt")}}));
    const ChildResult result = shell.wait(std::chrono::seconds(20));
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(readWholeFile(dir.file("status.txt")), "141\n");
    EXPECT_EQ(readWholeFile(dir.file("err.txt")),
              "card 0 (physical ID 0): channels 0-1, 25000 samples/s (12500 scans/s), until stopped\n");
    EXPECT_EQ(lastAdCommand(readWholeFile(dir.file("trace.txt"))), "0300");
}

// A file that cannot take more is no reader that quit: the failure is said.
TEST(ToolStopTest, AWriteErrorOnAFileStillFailsLoudlyWithTheCardStopped) {
    TempDir dir;
    const std::string script =
        "trap '' XFSZ; ulimit -f 64 && exec \"$0\" acquire --virtual --samples 100k --output run.csv";
    ChildProcess shell("/bin/bash", {"-c", script, KVD4093_TOOL_PATH}, dir.path(),
                       toolEnvironment(dir.path(), {{"KVD4093_TRACE", dir.file("trace.txt")}}));
    const ChildResult result = shell.wait(std::chrono::seconds(20));
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, "kvd4093: cannot write run.csv: File too large\n");
    EXPECT_EQ(lastAdCommand(readWholeFile(dir.file("trace.txt"))), "0300");
}

// Whether the process has its handler in place for the signal, from the
// mask of caught signals the kernel shows.
bool catches(pid_t process, int signal) {
    std::smatch mask;
    const std::string status = readWholeFile("/proc/" + std::to_string(process) + "/status");
    return std::regex_search(status, mask, std::regex("SigCgt:\\s*([0-9a-f]+)")) &&
           (std::stoull(mask[1], nullptr, 16) >> (signal - 1) & 1) != 0;
}

// What a FIFO's writer writes, from when it comes until it goes (at most
// 20 s): a FIFO read before its writer came reads as ended.
std::string readToTheWritersEnd(int fifo) {
    std::string text;
    pollfd ready = {fifo, POLLIN, 0};
    for (int waited = 0; waited < 20000; waited += 100) {
        if (poll(&ready, 1, 100) <= 0)
            continue; // no writer yet, or nothing new
        char buffer[4096];
        const ssize_t got = read(fifo, buffer, sizeof buffer);
        if (got > 0)
            text.append(buffer, size_t(got));
        else if (ready.revents & POLLHUP)
            break;
    }
    return text;
}

// A stop signal before the set-up: nothing starts, the files stay valid and
// the exit status tells the signal. The output is a FIFO, whose opening
// waits for a reader: the signal comes while the tool waits there.
TEST(ToolStopTest, AStopSignalBeforeTheSetUpStartsNothing) {
    TempDir dir;
    ASSERT_EQ(mkfifo(dir.file("run.csv").c_str(), 0600), 0);
    ToolProcess tool(dir.path(),
                     {"acquire", "--virtual", "--channels", "0-1", "--rate", "20k", "--time", "60s", "--output",
                      "run.csv"},
                     {{"KVD4093_VIRTUAL_PACING", "on"}, {"KVD4093_TRACE", dir.file("trace.txt")}});
    for (int waited = 0; waited < 20000 && !catches(tool.pid(), SIGTERM); waited += 5)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    tool.signal(SIGTERM);
    const int reader = open(dir.file("run.csv").c_str(), O_RDONLY | O_NONBLOCK); // lets the tool's open go on
    ASSERT_GE(reader, 0);
    const std::string csv = readToTheWritersEnd(reader);
    close(reader);
    const ChildResult result = tool.wait(std::chrono::seconds(20));

    EXPECT_EQ(result.exitCode, 143) << result.err;
    EXPECT_NE(result.out.find("stopped by SIGTERM after 0 of 600000 scans\n"), std::string::npos) << result.out;
    EXPECT_EQ(csv, "scan,time_s,ch0,ch1\n");
    EXPECT_EQ(adCommands(readWholeFile(dir.file("trace.txt"))), std::vector<std::string>{})
        << "nothing started, so nothing to stop";
}

// An exception of no kind of the tool's own, here a thread the system
// will not make (every thread would need a stack of a terabyte): it takes
// the way out of every failure (the one a failed write takes, above), so
// the tool says what went wrong instead of aborting, and a run that failed
// leaves no output behind. The thread was to watch the set-up, so nothing
// was started.
TEST(ToolExceptionTest, AnUnexpectedExceptionEndsTheFilesAndIsSaid) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers' runtime cannot lay out its memory with such a stack limit";
#endif
    TempDir dir;
    const std::string script = "ulimit -s 1000000000 && exec \"$0\" acquire --virtual --samples 100 --output run.bin";
    ChildProcess shell("/bin/bash", {"-c", script, KVD4093_TOOL_PATH}, dir.path(),
                       toolEnvironment(dir.path(), {{"KVD4093_TRACE", dir.file("trace.txt")}}));
    const ChildResult result = shell.wait(std::chrono::seconds(20));
    EXPECT_EQ(result.exitCode, 1) << result.err;
    EXPECT_EQ(result.err, "kvd4093: unexpected failure: Resource temporarily unavailable\n");
    EXPECT_FALSE(std::filesystem::exists(dir.file("run.bin")));
    EXPECT_FALSE(std::filesystem::exists(dir.file("run.bin.json")));
    EXPECT_EQ(adCommands(readWholeFile(dir.file("trace.txt"))), std::vector<std::string>{}) << "nothing started";
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
