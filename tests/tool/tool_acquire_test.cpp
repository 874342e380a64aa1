// kvd4093 acquire on virtual cards: the CSV, binary and SVG files hold the
// documented signals, the summary matches them, and Ctrl-C during a paced
// acquisition leaves valid files that hold what the summary counts.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <regex>
#include <thread>

#include <gtest/gtest.h>

#include "card_model/sample_stream.h"
#include "support/test_support.h"
#include "tool/tool_process.h"

namespace kvd::testing {
namespace {

using vcard::SampleStream;
using vcard::Signals;

// The set-up's first read takes 512 samples; the tool then drops the rest of
// a partial scan, so its first scan is scan ceil(512 / channels) of the card.
uint64_t firstCardScan(uint32_t channels) { return (512 + channels - 1) / channels; }

uint16_t expectedSample(uint32_t firstChannel, uint32_t channels, uint64_t scan, uint32_t index) {
    return SampleStream::sampleAt(Signals::Waveforms, firstChannel + index, firstCardScan(channels) + scan);
}

// The summary's table row of one channel, computed from the expected samples.
std::string summaryRow(uint32_t firstChannel, uint32_t channels, uint64_t scans, uint32_t index) {
    uint16_t low = 0xFFFF, high = 0;
    uint64_t sum = 0;
    for (uint64_t scan = 0; scan < scans; ++scan) {
        const uint16_t code = expectedSample(firstChannel, channels, scan, index);
        low = std::min(low, code);
        high = std::max(high, code);
        sum += code;
    }
    char row[80];
    std::snprintf(row, sizeof row, "%7u %8u %8u %11.2f", firstChannel + index, unsigned(low), unsigned(high),
                  double(sum) / double(scans));
    return row;
}

std::vector<std::string> fieldsOf(const std::string &line) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (size_t comma; (comma = line.find(',', start)) != std::string::npos; start = comma + 1)
        fields.push_back(line.substr(start, comma - start));
    fields.push_back(line.substr(start));
    return fields;
}

// Checks every row of a CSV file against the signals; returns the rows.
size_t checkCsv(const std::string &path, uint32_t firstChannel, uint32_t channels, double scanRate) {
    const std::vector<std::string> lines = linesOf(readWholeFile(path));
    EXPECT_FALSE(lines.empty());
    if (lines.empty())
        return 0;
    std::string header = "scan,time_s";
    for (uint32_t i = 0; i < channels; ++i)
        header += ",ch" + std::to_string(firstChannel + i);
    EXPECT_EQ(lines[0], header);
    for (size_t row = 1; row < lines.size(); ++row) {
        const uint64_t scan = row - 1;
        const std::vector<std::string> fields = fieldsOf(lines[row]);
        EXPECT_EQ(fields.size(), channels + 2) << lines[row];
        if (fields.size() != channels + 2)
            return lines.size() - 1;
        EXPECT_EQ(fields[0], std::to_string(scan));
        EXPECT_NEAR(std::stod(fields[1]), double(scan) / scanRate, 1e-7) << lines[row];
        for (uint32_t i = 0; i < channels; ++i)
            EXPECT_EQ(fields[2 + i], std::to_string(expectedSample(firstChannel, channels, scan, i)))
                << "scan " << scan << " channel " << firstChannel + i;
    }
    return lines.size() - 1;
}

struct CsvCase {
    std::string channels;
    uint32_t first;
    uint32_t count;
    std::string rate;
    double sampleRate; // as the card's divider gives it
    std::vector<std::string> amount;
    uint64_t scans;
};

void PrintTo(const CsvCase &c, std::ostream *out) { *out << "channels " << c.channels << " at " << c.rate; }

class ToolCsvTest : public ::testing::TestWithParam<CsvCase> {
protected:
    TempDir dir_;
};

TEST_P(ToolCsvTest, RowsAndColumnsHoldTheDocumentedSignals) {
    const CsvCase &c = GetParam();
    std::vector<std::string> arguments = {"acquire", "--virtual", "--channels", c.channels, "--rate", c.rate,
                                          "--output", "run.csv"};
    arguments.insert(arguments.end(), c.amount.begin(), c.amount.end());
    const ChildResult result = runTool(dir_.path(), arguments);
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.err, "");

    EXPECT_EQ(checkCsv(dir_.file("run.csv"), c.first, c.count, c.sampleRate / c.count), c.scans);
    EXPECT_EQ(acquiredScans(result.out), c.scans) << result.out;

    const std::vector<std::string> lines = linesOf(result.out);
    const auto table = std::find(lines.begin(), lines.end(), "channel      min      max        mean");
    ASSERT_NE(table, lines.end()) << result.out;
    ASSERT_GT(lines.end() - table, c.count);
    for (uint32_t i = 0; i < c.count; ++i)
        EXPECT_EQ(table[1 + i], summaryRow(c.first, c.count, c.scans, i));
    EXPECT_EQ(lines.back(), "wrote run.csv");
}

INSTANTIATE_TEST_SUITE_P(
    Channels, ToolCsvTest,
    ::testing::Values(CsvCase{"0-3", 0, 4, "100k", 100000, {"--samples", "1000"}, 1000},
                      // 512 is not a whole number of 3-channel scans
                      CsvCase{"1-3", 1, 3, "30k", 10000000.0 / 333, {"--samples", "777"}, 777},
                      CsvCase{"5", 5, 1, "10k", 10000, {"--samples", "5k"}, 5000},
                      CsvCase{"0-7", 0, 8, "1M", 1000000, {"--samples", "9000"}, 9000},
                      // --time: 50 ms of 10000 scans a second
                      CsvCase{"0-1", 0, 2, "20k", 20000, {"--time", "50ms"}, 500}));

// An acquisition in a folder of the test's own, and a file it writes there.
class ToolOutputFileTest : public ::testing::Test {
protected:
    // The bytes of `file` after kvd4093 acquire with the options; empty,
    // with a failure, when the run fails.
    std::string acquireFile(const std::vector<std::string> &options, const std::string &file) {
        std::vector<std::string> arguments = {"acquire"};
        arguments.insert(arguments.end(), options.begin(), options.end());
        const ChildResult result = runTool(dir_.path(), arguments);
        EXPECT_EQ(result.exitCode, 0) << result.err;
        return readWholeFile(dir_.file(file));
    }
    TempDir dir_;
};

TEST_F(ToolOutputFileTest, BinaryHoldsRawSamplesWithASidecarDescribingThem) {
    const std::string bytes = acquireFile(
        {"--virtual=7", "--channels", "0-1", "--rate", "50k", "--samples", "1000", "--output", "run.bin"}, "run.bin");
    ASSERT_EQ(bytes.size(), 1000u * 2 * 2);
    for (uint64_t scan = 0; scan < 1000; ++scan)
        for (uint32_t channel = 0; channel < 2; ++channel) {
            const size_t at = size_t(scan * 2 + channel) * 2;
            const uint16_t code = uint16_t(uint8_t(bytes[at]) | uint8_t(bytes[at + 1]) << 8);
            ASSERT_EQ(code, expectedSample(0, 2, scan, channel)) << "scan " << scan << " channel " << channel;
        }

    const std::string sidecar = readWholeFile(dir_.file("run.bin.json"));
    EXPECT_NE(sidecar.find("\"samples\": 2000,"), std::string::npos) << sidecar;
    EXPECT_NE(sidecar.find("\"scans\": 1000,"), std::string::npos);
    EXPECT_NE(sidecar.find("\"channels\": [0, 1],"), std::string::npos);
    EXPECT_NE(sidecar.find("\"rate_hz\": 50000,"), std::string::npos);
    EXPECT_NE(sidecar.find("\"scan_rate_hz\": 25000,"), std::string::npos);
    EXPECT_TRUE(std::regex_search(sidecar, std::regex("\"card\": \\{\"logical_number\": 0, \"physical_id\": 7, "
                                                      "\"version\": \"[0-9]+\\.[0-9]+\\.[0-9]+\"\\},")))
        << sidecar;
    EXPECT_NE(sidecar.find("\"complete\": true,"), std::string::npos);
    EXPECT_NE(sidecar.find("\"Frequency\": 50000"), std::string::npos);
    EXPECT_TRUE(std::regex_search(sidecar, std::regex("\"start_time\": \"[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:"
                                                      "[0-9]{2}\\.[0-9]{3}Z\",")))
        << sidecar;
    EXPECT_EQ(sidecar.front(), '{');
    EXPECT_EQ(sidecar.substr(sidecar.size() - 2), "}\n");
    EXPECT_EQ(std::count(sidecar.begin(), sidecar.end(), '{'), std::count(sidecar.begin(), sidecar.end(), '}'));
}

// On a terminal the tool shows its progress, redrawing one line; elsewhere
// (the tests above) standard error stays empty.
TEST(ToolProgressTest, ProgressBarShowsOnlyOnATerminal) {
    TempDir dir;
    ToolProcess tool(dir.path(), {"acquire", "--virtual", "--channels", "0-1", "--rate", "20k", "--time", "300ms"},
                     {{"KVD4093_VIRTUAL_PACING", "on"}}, StandardError::Terminal);
    const ChildResult result = tool.wait();
    ASSERT_EQ(result.exitCode, 0) << result.out;
    EXPECT_NE(result.err.find("\r[##############################] 100%  3000/3000 scans"), std::string::npos)
        << result.err;
    EXPECT_EQ(result.err.find('\n'), std::string::npos) << "the bar stays on one line";
}

// A minimal XML reading: every tag closed in order, one root, attribute
// values quoted, no stray '<' or '&' in text. Returns the element names in
// document order, or an empty list when the document is not well formed.
std::vector<std::string> xmlElements(const std::string &xml) {
    std::vector<std::string> names, open;
    size_t at = xml.find("<svg");
    if (xml.rfind("<?xml ", 0) != 0 || at == std::string::npos)
        return {};
    for (;;) {
        const size_t text = at;
        at = xml.find('<', at);
        if (at == std::string::npos)
            break;
        const std::string between = xml.substr(text, at - text);
        if (std::regex_search(between, std::regex("&(?!(amp|lt|gt|quot);)")))
            return {};
        size_t end = at + 1;
        for (bool quoted = false; end < xml.size() && (quoted || xml[end] != '>'); ++end) {
            if (xml[end] == '<' && !quoted)
                return {};
            if (xml[end] == '"')
                quoted = !quoted;
        }
        if (end == xml.size())
            return {};
        const std::string tag = xml.substr(at + 1, end - at - 1);
        at = end + 1;
        if (tag[0] == '/') {
            if (open.empty() || open.back() != tag.substr(1))
                return {};
            open.pop_back();
            if (open.empty() && xml.find('<', at) != std::string::npos)
                return {}; // a second root
            continue;
        }
        const std::string name = tag.substr(0, tag.find_first_of(" \n/"));
        names.push_back(name);
        if (tag.back() != '/')
            open.push_back(name);
    }
    return open.empty() ? names : std::vector<std::string>{};
}

TEST_F(ToolOutputFileTest, SvgIsWellFormedWithOnePathPerChannelAndALegend) {
    const std::string svg = acquireFile(
        {"--virtual", "--channels", "0-3", "--rate", "1M", "--time", "20ms", "--plot", "run.svg"}, "run.svg");
    const std::vector<std::string> elements = xmlElements(svg);
    ASSERT_FALSE(elements.empty()) << svg.substr(0, 400);
    EXPECT_EQ(elements.front(), "svg");
    EXPECT_EQ(std::count(elements.begin(), elements.end(), "path"), 4);
    for (const std::string legend : {">ch 0<", ">ch 1<", ">ch 2<", ">ch 3<", ">time (s)<"})
        EXPECT_NE(svg.find(legend), std::string::npos) << legend;
    // Each path is a line with points: M, then L segments.
    const std::regex line("<path [^>]* d=\"M[0-9.]+ [0-9.]+( L[0-9.]+ [0-9.]+)+\"/>");
    EXPECT_EQ(std::distance(std::sregex_iterator(svg.begin(), svg.end(), line), std::sregex_iterator()), 4);
}

TEST(ToolPlotTest, MinimalReaderRefusesBrokenDocuments) {
    const std::string head = "<?xml version=\"1.0\"?>\n";
    EXPECT_FALSE(xmlElements(head + "<svg><path d=\"M0 0\"/></svg>\n").empty());
    EXPECT_TRUE(xmlElements(head + "<svg><g></svg></g>").empty());
    EXPECT_TRUE(xmlElements(head + "<svg><path d=\"M0 0/></svg>").empty());
    EXPECT_TRUE(xmlElements(head + "<svg><text>a & b</text></svg>").empty());
    EXPECT_TRUE(xmlElements(head + "<svg></svg><svg></svg>").empty());
    EXPECT_TRUE(xmlElements(head + "<svg>").empty());
}

// Ctrl-C while a paced acquisition runs: the tool stops the card, keeps what
// it acquired in a valid file, and says how much.
TEST(ToolInterruptTest, CtrlCKeepsAValidFileThatHoldsWhatTheSummaryCounts) {
    TempDir dir;
    ToolProcess tool(dir.path(),
                     {"acquire", "--virtual=7", "--channels", "0-1", "--rate", "20k", "--time", "60s", "--output",
                      "run.csv", "--plot", "run.svg"},
                     {{"KVD4093_VIRTUAL_PACING", "on"}});
    // The file takes its name with the first block.
    waitForContent(dir.file("run.csv"));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    tool.signal(SIGINT);
    const ChildResult result = tool.wait(std::chrono::seconds(20));

    EXPECT_EQ(result.exitCode, 130) << result.err;
    const uint64_t scans = acquiredScans(result.out);
    EXPECT_GT(scans, 0u) << result.out;
    EXPECT_LT(scans, 600000u);
    EXPECT_NE(result.out.find("stopped by Ctrl-C after " + std::to_string(scans) + " of 600000 scans\n"),
              std::string::npos)
        << result.out;
    EXPECT_EQ(checkCsv(dir.file("run.csv"), 0, 2, 10000), scans);
    const std::vector<std::string> plot = xmlElements(readWholeFile(dir.file("run.svg")));
    EXPECT_EQ(std::count(plot.begin(), plot.end(), "path"), 2);
}

} // namespace
} // namespace kvd::testing
