// kvd4093 acquire when the outputs fall behind. An output that a slow
// consumer reads (a FIFO the test stops reading) for longer than the queue
// holds stops the acquisition with its message, every block read in the
// files; with --on-overrun continue it leaves gaps that the CSV, the sidecar
// and the summary record, the samples around them being the card's. A
// shorter pause loses nothing. A paced card read too late (the whole tool
// stopped with SIGSTOP) loses its oldest samples, and the backlog warning
// fires then and only then.
#include <chrono>
#include <csignal>
#include <optional>
#include <regex>
#include <thread>

#include <gtest/gtest.h>

#include "card_model/sample_stream.h"
#include "support/test_support.h"
#include "tool/slow_fifo.h"
#include "tool/tool_process.h"

namespace kvd::testing {
namespace {

using Args = std::vector<std::string>;
using vcard::SampleStream;
using vcard::Signals;

// Two channels at 20 kS/s: 10000 scans a second, blocks of 500 scans; the
// set-up's 512 samples make the files' scan 0 the card's scan 256.
constexpr uint64_t kScanRate = 10000;
constexpr uint64_t kBlockScans = 500;
constexpr uint64_t kFirstCardScan = 256;
using std::chrono::milliseconds;

uint16_t cardSample(uint32_t channel, uint64_t scan) {
    return SampleStream::sampleAt(Signals::Waveforms, channel, kFirstCardScan + scan);
}

struct Gap {
    uint64_t first;
    uint64_t scans;
    bool operator==(const Gap &other) const { return first == other.first && scans == other.scans; }
};

void PrintTo(const Gap &gap, std::ostream *out) { *out << gap.scans << " from " << gap.first; }

// A CSV file of two channels: the scan column of every row, in order, each
// row checked against the card; the gap comments in order. A gap must stand
// exactly where the scan column jumps, and nowhere else.
struct CsvFile {
    std::vector<uint64_t> scans;
    std::vector<Gap> gaps;
};

CsvFile parseCsv(const std::string &text) {
    CsvFile file;
    const std::vector<std::string> lines = linesOf(text);
    EXPECT_EQ(lines.at(0), "scan,time_s,ch0,ch1");
    const std::regex gapLine("# ([0-9]+) scans lost from scan ([0-9]+)");
    uint64_t next = 0;
    for (size_t i = 1; i < lines.size(); ++i) {
        std::smatch match;
        if (std::regex_match(lines[i], match, gapLine)) {
            file.gaps.push_back({std::stoull(match[2]), std::stoull(match[1])});
            EXPECT_EQ(file.gaps.back().first, next) << "a gap starts where the rows stop";
            next += file.gaps.back().scans;
            continue;
        }
        unsigned long long scan = 0;
        double time = 0;
        unsigned code0 = 0, code1 = 0;
        EXPECT_EQ(std::sscanf(lines[i].c_str(), "%llu,%lf,%u,%u", &scan, &time, &code0, &code1), 4) << lines[i];
        EXPECT_EQ(scan, next) << "line " << i;
        EXPECT_NEAR(time, double(scan) / kScanRate, 1e-7);
        EXPECT_EQ(code0, cardSample(0, scan)) << "scan " << scan;
        EXPECT_EQ(code1, cardSample(1, scan)) << "scan " << scan;
        if (::testing::Test::HasFailure())
            return file;
        file.scans.push_back(scan);
        next = scan + 1;
    }
    return file;
}

// The "  scans A to B (N)" lines of the summary.
std::vector<Gap> summaryGaps(const std::string &out) {
    std::vector<Gap> gaps;
    const std::regex line("  scans ([0-9]+) to ([0-9]+) \\(([0-9]+)\\)");
    for (auto it = std::sregex_iterator(out.begin(), out.end(), line); it != std::sregex_iterator(); ++it) {
        const uint64_t first = std::stoull((*it)[1]), last = std::stoull((*it)[2]);
        EXPECT_EQ(last - first + 1, std::stoull((*it)[3]));
        gaps.push_back({first, last - first + 1});
    }
    return gaps;
}

// The "gaps" list of a sidecar.
std::vector<Gap> sidecarGaps(const std::string &sidecar) {
    std::vector<Gap> gaps;
    const std::regex entry("\\{\"first_scan\": ([0-9]+), \"scans_lost\": ([0-9]+)\\}");
    for (auto it = std::sregex_iterator(sidecar.begin(), sidecar.end(), entry); it != std::sregex_iterator(); ++it)
        gaps.push_back({std::stoull((*it)[1]), std::stoull((*it)[2])});
    return gaps;
}

// Whether a binary file of two channels holds the card's codes of `scans`
// scans, the gaps' scans left out.
bool holdsTheCardsScans(const std::string &bytes, uint64_t scans, const std::vector<Gap> &gaps = {}) {
    uint64_t lost = 0;
    for (const Gap &gap : gaps)
        lost += gap.scans;
    if (bytes.size() != (scans - lost) * 2 * 2)
        return false;
    size_t at = 0;
    auto gap = gaps.begin();
    for (uint64_t scan = 0; scan < scans; ++scan) {
        if (gap != gaps.end() && scan == gap->first)
            scan += (gap++)->scans;
        if (scan >= scans)
            break;
        for (uint32_t channel = 0; channel < 2; ++channel, at += 2)
            if (uint16_t(uint8_t(bytes[at]) | uint8_t(bytes[at + 1]) << 8) != cardSample(channel, scan))
                return false;
    }
    return true;
}

class ToolOverrunTest : public ::testing::Test {
protected:
    ChildResult run(const Args &options, const Environment &environment = {}) {
        Args arguments = {"acquire", "--virtual", "--channels", "0-1", "--rate", "20k"};
        arguments.insert(arguments.end(), options.begin(), options.end());
        return runTool(dir_.path(), arguments, environment);
    }
    TempDir dir_;
};

// The output and how many blocks the tool's writer has taken by the time it
// waits for a pipe nobody reads: a binary file's two blocks of 2000 bytes
// fit the pipe's page and the third waits in its write; CSV's text waits in
// the first block's write with WriteBehind's other two beside it, and the
// writer waits with the fourth.
struct StalledOutput {
    std::string name;
    uint64_t blocksTaken;
};

void PrintTo(const StalledOutput &output, std::ostream *out) { *out << output.name; }

class ToolOverrunStopTest : public ToolOverrunTest, public ::testing::WithParamInterface<StalledOutput> {};

// The queue holds 10 blocks of 500 scans; nothing reads the output for
// 1.5 s. The reader stops the card when it finds the queue full: the output
// holds every block read, the queue's and those the writer had taken (one
// fewer when the queue was full before the writer took its last), each scan
// the card's; a binary file's sidecar says it is incomplete.
TEST_P(ToolOverrunStopTest, APauseLongerThanTheQueueStopsWithTheMessageKeepingEveryBlockRead) {
    const StalledOutput &output = GetParam();
    SlowFifo fifo(dir_.file(output.name), {SlowFifo::atOnce(milliseconds(1500))});
    const ChildResult result = run({"--samples", "100k", "--buffer", "500ms", "--output", output.name});
    const std::string &text = fifo.text();
    EXPECT_EQ(result.exitCode, 1) << result.err;
    const uint64_t scans = acquiredScans(result.out);
    EXPECT_EQ(scans % kBlockScans, 0u) << result.out;
    EXPECT_GE(scans, (9 + output.blocksTaken) * kBlockScans) << result.out;
    EXPECT_LE(scans, (10 + output.blocksTaken) * kBlockScans) << result.out;
    EXPECT_EQ(result.err, "kvd4093: the output could not keep up at 20000 samples/s: stopped after " +
                              std::to_string(scans) + " scans\n");
    if (output.name == "run.csv") {
        const CsvFile file = parseCsv(text);
        EXPECT_EQ(file.scans.size(), scans);
        EXPECT_TRUE(file.gaps.empty());
        return;
    }
    EXPECT_TRUE(holdsTheCardsScans(text, scans));
    const std::string sidecar = readWholeFile(dir_.file("run.bin.json"));
    EXPECT_NE(sidecar.find("\"scans\": " + std::to_string(scans) + ",\n"), std::string::npos) << sidecar;
    EXPECT_NE(sidecar.find("\"complete\": false,"), std::string::npos) << sidecar;
    EXPECT_NE(sidecar.find("\"gaps\": [],"), std::string::npos) << sidecar;
}

INSTANTIATE_TEST_SUITE_P(Outputs, ToolOverrunStopTest,
                         ::testing::Values(StalledOutput{"run.csv", 4}, StalledOutput{"run.bin", 3}),
                         [](const ::testing::TestParamInfo<StalledOutput> &info) {
                             return info.param.name == "run.csv" ? "Csv" : "Bin";
                         });

// A paced card, a queue of 500 ms and two pauses of 1.5 s: two gaps, each
// recorded where the rows jump, in the summary too; every row holds the
// card's samples of its scan, and rows and gaps cover the 4 s asked for.
TEST_F(ToolOverrunTest, ContinueRecordsEachGapInTheCsvAndTheSummary) {
    SlowFifo fifo(dir_.file("run.csv"),
                  {SlowFifo::afterRow(3000, milliseconds(1500)), SlowFifo::afterRow(20000, milliseconds(1500))});
    const ChildResult result = run({"--time", "4s", "--buffer", "500ms", "--on-overrun", "continue", "--output",
                                    "run.csv"},
                                   {{"KVD4093_VIRTUAL_PACING", "on"}});
    const CsvFile file = parseCsv(fifo.text());
    ASSERT_EQ(result.exitCode, 0) << result.err;
    ASSERT_EQ(file.gaps.size(), 2u);
    EXPECT_GE(file.gaps[0].first, 3500u) << "the blocks the writer holds and the queue behind them are written";
    EXPECT_GE(file.gaps[1].first, 20000u);
    uint64_t lost = 0;
    for (const Gap &gap : file.gaps) {
        EXPECT_EQ(gap.scans % kBlockScans, 0u) << "whole blocks are dropped";
        lost += gap.scans;
    }
    EXPECT_EQ(file.scans.size() + lost, 40000u);
    EXPECT_EQ(acquiredScans(result.out), file.scans.size());
    EXPECT_NE(result.out.find("lost " + std::to_string(lost) + " scans in 2 gaps, the outputs not keeping up:\n"),
              std::string::npos)
        << result.out;
    EXPECT_EQ(summaryGaps(result.out), file.gaps);
}

// The binary file holds the scans around the gaps back to back; the sidecar
// lists the gaps, which the summary lists too.
TEST_F(ToolOverrunTest, ContinueListsTheGapsInTheSidecar) {
    SlowFifo fifo(dir_.file("run.bin"), {SlowFifo::afterBytes(2000 * 2 * 2, milliseconds(1500))});
    const ChildResult result =
        run({"--time", "3s", "--buffer", "500ms", "--on-overrun", "continue", "--output", "run.bin"},
            {{"KVD4093_VIRTUAL_PACING", "on"}});
    const std::string &bytes = fifo.text();
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const std::string sidecar = readWholeFile(dir_.file("run.bin.json"));
    const std::vector<Gap> gaps = sidecarGaps(sidecar);
    ASSERT_EQ(gaps.size(), 1u) << sidecar;
    EXPECT_EQ(summaryGaps(result.out), gaps);
    EXPECT_NE(sidecar.find("\"complete\": true,"), std::string::npos) << "the gap counts towards the scans asked for";
    EXPECT_TRUE(holdsTheCardsScans(bytes, 30000, gaps));
}

// 400 ms of pause against the default queue of 2 s: the output is the file
// a run read on time writes, byte for byte.
TEST_F(ToolOverrunTest, APauseShorterThanTheQueueLosesNothing) {
    const Environment paced = {{"KVD4093_VIRTUAL_PACING", "on"}};
    const ChildResult calm = run({"--time", "1s", "--output", "calm.csv"}, paced);
    SlowFifo fifo(dir_.file("slowed.csv"), {SlowFifo::afterRow(2000, milliseconds(400))});
    const ChildResult slowed = run({"--time", "1s", "--output", "slowed.csv"}, paced);
    ASSERT_EQ(calm.exitCode, 0) << calm.err;
    ASSERT_EQ(slowed.exitCode, 0) << slowed.err;
    EXPECT_EQ(parseCsv(readWholeFile(dir_.file("calm.csv"))).scans.size(), 10000u);
    EXPECT_EQ(fifo.text(), readWholeFile(dir_.file("calm.csv")));
    EXPECT_EQ(slowed.out.find("lost "), std::string::npos) << slowed.out;
}

// 30 s at 10 MS/s of 4 channels would be 600 MB: blocks of 125000 scans
// (1 MB), 266 of them within 256 MiB beside the two in use, 13.3 s.
TEST_F(ToolOverrunTest, ABufferTooLargeForTheMemoryIsCutWithAWarning) {
    const ChildResult result = runTool(dir_.path(), {"acquire", "--virtual", "--channels", "0-3", "--rate", "10M",
                                                     "--samples", "1000", "--buffer", "30s"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.err, "kvd4093: warning: --buffer 30 s at 10000000 samples/s would take more than 256 MiB: the "
                          "queue holds 13.30 s\n");
}

// On a terminal the progress line ends with the backlog.
TEST_F(ToolOverrunTest, TheProgressLineShowsTheBacklog) {
    ToolProcess tool(dir_.path(), {"acquire", "--virtual", "--channels", "0-1", "--rate", "20k", "--time", "300ms"},
                     {{"KVD4093_VIRTUAL_PACING", "on"}, {"COLUMNS", "100"}}, StandardError::Terminal);
    const ChildResult result = tool.wait();
    ASSERT_EQ(result.exitCode, 0) << result.out;
    EXPECT_TRUE(std::regex_search(result.err, std::regex("3000/3000 scans  [0-9]+\\.[0-9] s  backlog 0\\.[0-9]{2} s")))
        << result.err;
}

struct BadStreamingOption {
    Args options;
    std::string message;
};

TEST_F(ToolOverrunTest, BadStreamingOptionsAreUsageErrors) {
    for (const BadStreamingOption &bad :
         {BadStreamingOption{{"--on-overrun", "wait"}, "--on-overrun: \"wait\" is not stop or continue"},
          BadStreamingOption{{"--buffer", "0s"}, "--buffer: \"0s\" is not a duration such as 500ms, 2s, 5m or 1h"},
          BadStreamingOption{{"--max-backlog", "x"},
                             "--max-backlog: \"x\" is not a duration such as 500ms, 2s, 5m or 1h"}}) {
        const ChildResult result = run(bad.options);
        EXPECT_EQ(result.exitCode, 2);
        EXPECT_EQ(result.err, "kvd4093: " + bad.message + "\n");
    }
}

// A paced card whose memory holds 10000 samples (0.5 s at 20 kS/s) and a
// --max-backlog of 0.5 s. Stopped for 1.5 s (SIGSTOP), the tool reads too
// late: the card lost its oldest samples, so from one row on the file holds
// the card's samples of a later scan, and the warning fires. Read on time,
// every row holds its own scan and nothing is said.
class ToolBacklogTest : public ToolOverrunTest, public ::testing::WithParamInterface<bool> {};

TEST_P(ToolBacklogTest, WarningFiresWhenAndOnlyWhenTheCardLostSamples) {
    const bool late = GetParam();
    ToolProcess tool(dir_.path(),
                     {"acquire", "--virtual", "--channels", "0-1", "--rate", "20k", "--time", "3s", "--max-backlog",
                      "500ms", "--output", "run.csv"},
                     {{"KVD4093_VIRTUAL_PACING", "on"}, {"KVD4093_VIRTUAL_MEMORY", "10000"}});
    double stoppedSeconds = 0;
    if (late) {
        for (int waited = 0; waited < 20000 && linesOf(readWholeFile(dir_.file("run.csv"))).size() < 2000;
             waited += 10)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        const auto stopped = std::chrono::steady_clock::now();
        tool.signal(SIGSTOP);
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        tool.signal(SIGCONT);
        stoppedSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - stopped).count();
    }
    const ChildResult result = tool.wait(std::chrono::seconds(30));
    ASSERT_EQ(result.exitCode, 0) << result.err;
    std::smatch backlog;
    ASSERT_TRUE(std::regex_search(result.out, backlog, std::regex("largest backlog ([0-9]+) scans"))) << result.out;

    // The rows up to the loss hold their own scans, the rest those of scan +
    // lost. The waveforms repeat every 4096 scans, so the jump shows lost
    // modulo 4096; the card's own tests count what it lost exactly.
    const std::vector<std::string> lines = linesOf(readWholeFile(dir_.file("run.csv")));
    ASSERT_EQ(lines.size(), 30001u);
    std::vector<std::pair<unsigned, unsigned>> codes(30000);
    for (uint64_t scan = 0; scan < codes.size(); ++scan)
        ASSERT_EQ(std::sscanf(lines[scan + 1].c_str(), "%*u,%*f,%u,%u", &codes[scan].first, &codes[scan].second), 2);
    const auto holds = [&](uint64_t scan, uint64_t cardScan) {
        return codes[scan].first == cardSample(0, cardScan) && codes[scan].second == cardSample(1, cardScan);
    };
    uint64_t jump = 0;
    std::optional<uint64_t> jumpedAt;
    for (uint64_t scan = 0; scan < codes.size(); ++scan) {
        if (!jumpedAt && !holds(scan, scan)) {
            jumpedAt = scan;
            ASSERT_LT(scan + 2, codes.size());
            for (jump = 1; jump < SampleStream::kScansPerPeriod; ++jump)
                if (holds(scan, scan + jump) && holds(scan + 1, scan + 1 + jump) && holds(scan + 2, scan + 2 + jump))
                    break;
        }
        ASSERT_TRUE(holds(scan, scan + jump)) << "scan " << scan << " after a jump of " << jump;
    }
    const std::string warning = "kvd4093: warning: the reads fell ";
    if (!late) {
        EXPECT_FALSE(jumpedAt) << "at scan " << *jumpedAt;
        EXPECT_EQ(result.err, "");
        EXPECT_LT(std::stoull(backlog[1]), 5000u);
        return;
    }
    ASSERT_TRUE(jumpedAt) << "the card lost nothing";
    EXPECT_GE(*jumpedAt, 2000u) << "what was read before the stop is whole";
    EXPECT_GT(std::stoull(backlog[1]), kScanRate) << "stopped 1.5 s: " << result.out;
    EXPECT_LE(std::stoull(backlog[1]), uint64_t((stoppedSeconds + 0.5) * kScanRate)) << result.out;
    EXPECT_EQ(result.err.rfind(warning, 0), 0u) << result.err;
    EXPECT_NE(result.err.find("more than --max-backlog (0.5 s): the card's memory may have overflowed and lost "
                              "samples\n"),
              std::string::npos)
        << result.err;
    EXPECT_EQ(result.err.find(warning, 1), std::string::npos) << "once";
}

INSTANTIATE_TEST_SUITE_P(ReadLateOrOnTime, ToolBacklogTest, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool> &info) { return info.param ? "Late" : "OnTime"; });

} // namespace
} // namespace kvd::testing
