// kvd4093 acquire --reconnect under kvd4093-usb-sim: cards pulled out and
// plugged in again are started again with the same record, the scans their
// clock gave meanwhile are a gap, and the samples on both sides of a gap are
// the card's own (the card model's waveform of scan k since its start); a
// card that stays away, or comes back with another physical ID, ends the run.
#include <algorithm>
#include <chrono>
#include <map>
#include <regex>

#include <gtest/gtest.h>

#include "card_model/sample_stream.h"
#include "support/test_support.h"
#include "tool/tool_process.h"

namespace kvd::testing {
namespace {

#if defined(KVD4093_USB_SIM_PATH)

using Args = std::vector<std::string>;

struct Reconnect {
    const char *name;
    Args simulator;
    Args acquire;
    double awaySeconds;       // how long each unplug keeps the cards out
    double waitSeconds;       // --reconnect's wait, for a run that ends at it
    int exitCode;
    size_t gaps;              // gaps of the run, every one a card away
    size_t starts;            // set-ups in the trace, of every card
    const char *message;      // what the output or standard error must hold
};

// The scans a gap may exceed the time the card was away by: the block in
// flight when it went, the quarter-second look for it, the set-up (and a
// group's 200 ms for its takers to wait), with room for a loaded machine.
constexpr double kGapSlackSeconds = 1.0;
constexpr double kScanRate = 10000;

const Reconnect kCases[] = {
    {"TwoUnplugs", {"--ids", "7", "--unplug-every", "800ms", "--replug-after", "200ms"},
     {"--channels", "0-3", "--rate", "40k", "--time", "2s", "--reconnect"}, 0.2, 0, 0, 2, 3,
     "card ID 7 lost at scan "},
    {"GroupOneCardOut", {"--ids", "7,9", "--only", "1", "--unplug-after", "600ms", "--replug-after", "900ms"},
     {"--id", "7,9", "--channels", "0-1", "--rate", "20k", "--time", "2s", "--reconnect"}, 0.3, 0, 0, 1, 4,
     "card ID 9 lost at scan "},
    {"StaysAway", {"--ids", "7", "--unplug-after", "400ms"},
     {"--channels", "0-3", "--rate", "40k", "--continuous", "--reconnect=1s"}, 0, 1, 1, 0, 1,
     ": not back within 1 s\n"},
    {"ComesBackAsAnother", {"--ids", "7", "--unplug-after", "400ms", "--replug-after", "600ms", "--replug-as", "9"},
     {"--channels", "0-3", "--rate", "40k", "--continuous", "--reconnect=1500ms"}, 0, 1.5, 1, 0, 1,
     ": not back within 1.5 s\n"},
};

class UsbReconnectTest : public ::testing::TestWithParam<Reconnect> {};

size_t count(const std::string &text, const std::regex &pattern) {
    return size_t(std::distance(std::sregex_iterator(text.begin(), text.end(), pattern), std::sregex_iterator()));
}

// Every row holds the card's samples: channel c of scan k is the model's
// sample of scan k - (the segment's first scan) + the set-up's scans.
void expectTheCardsSamples(const std::vector<std::string> &lines, uint32_t channelsPerCard) {
    const std::regex gap("# ([0-9]+) scans lost from scan ([0-9]+)");
    const uint64_t setUpScans = (512 + channelsPerCard - 1) / channelsPerCard;
    uint64_t segmentFirst = 0, rows = 0;
    for (size_t i = 1; i < lines.size(); ++i) {
        std::smatch match;
        if (std::regex_match(lines[i], match, gap)) {
            segmentFirst = std::stoull(match[2]) + std::stoull(match[1]);
            continue;
        }
        std::vector<std::string> fields;
        for (size_t from = 0, comma = 0; comma != std::string::npos; from = comma + 1)
            fields.push_back(lines[i].substr(from, (comma = lines[i].find(',', from)) - from));
        const uint64_t scan = std::stoull(fields[0]);
        ASSERT_GE(scan, segmentFirst) << lines[i];
        for (size_t column = 2; column < fields.size(); ++column) {
            const auto channel = uint32_t((column - 2) % channelsPerCard);
            ASSERT_EQ(std::stoul(fields[column]),
                      vcard::SampleStream::sampleAt(vcard::Signals::Waveforms, channel, scan - segmentFirst + setUpScans))
                << "scan " << scan << ", column " << column;
        }
        ++rows;
    }
    EXPECT_GT(rows, 0u);
}

// A set-up sends the record (pipe 0, "02 ...") and then reads its first 512
// samples (1024 bytes on pipe 2): each card's record is the same at every start.
void expectTheSameRecordAtEveryStart(const std::string &trace, size_t starts) {
    const std::vector<std::string> lines = linesOf(trace);
    const std::regex record("(card=[0-9]+) BULK_WRITE pipe=0 len=512 ret=512 ok=1 data=02.*");
    const std::regex setUpRead("(card=[0-9]+) BULK_READ pipe=2 len=1024 ret=1024 ok=1");
    std::map<std::string, std::string> records, last;
    size_t found = 0;
    for (const std::string &line : lines) {
        std::smatch match;
        if (std::regex_match(line, match, record)) {
            last[match[1]] = line;
        } else if (std::regex_match(line, match, setUpRead)) {
            ++found;
            const std::string sent = last[match[1]];
            ASSERT_FALSE(sent.empty()) << line;
            EXPECT_EQ(records.emplace(match[1], sent).first->second, sent);
        }
    }
    EXPECT_EQ(found, starts) << trace;
}

TEST_P(UsbReconnectTest, TheRunGoesOnAfterEachReplugOrEndsWithTheMessage) {
    const Reconnect &run = GetParam();
    const TempDir dir;
    Args acquire = {"acquire", "--output", "r.csv"};
    acquire.insert(acquire.end(), run.acquire.begin(), run.acquire.end());
    const auto started = std::chrono::steady_clock::now();
    const ChildResult result = runToolOnEmulatedUsb(
        dir.path(), run.simulator, acquire, {{"KVD4093_VIRTUAL_PACING", std::nullopt}, {"KVD4093_TRACE", dir.file("trace")}});
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    ASSERT_EQ(result.exitCode, run.exitCode) << result.err;
    EXPECT_NE((result.out + result.err).find(run.message), std::string::npos) << result.out << result.err;
    const std::string trace = readWholeFile(dir.file("trace"));
    expectTheSameRecordAtEveryStart(trace, run.starts);
    const std::vector<std::string> lines = linesOf(readWholeFile(dir.file("r.csv")));
    const std::regex gap("# ([0-9]+) scans lost from scan ([0-9]+)");
    std::vector<uint64_t> gaps;
    for (const std::string &line : lines)
        if (std::smatch match; std::regex_match(line, match, gap))
            gaps.push_back(std::stoull(match[1]));
    ASSERT_EQ(gaps.size(), run.gaps) << result.out;
    EXPECT_EQ(count(result.out, std::regex("card ID [0-9]+ lost at scan [0-9]+, back at scan [0-9]+: [0-9]+ scans")),
              run.gaps);
    for (const uint64_t scans : gaps) {
        EXPECT_GE(double(scans), run.awaySeconds * kScanRate);
        EXPECT_LE(double(scans), (run.awaySeconds + kGapSlackSeconds) * kScanRate);
    }
    const bool group = run.acquire[0] == "--id";
    expectTheCardsSamples(lines, group ? 2 : 4);
    EXPECT_GE(took, run.waitSeconds); // a run that ends at the wait ends after it
}

INSTANTIATE_TEST_SUITE_P(Runs, UsbReconnectTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Reconnect> &info) { return std::string(info.param.name); });

#endif

} // namespace
} // namespace kvd::testing
