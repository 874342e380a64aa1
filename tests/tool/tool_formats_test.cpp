// kvd4093 acquire into each format, read back by the programs people open
// them with (format_readers.h): a sigrok session by sigrok-cli, HDF5 by h5py
// and h5dump, NumPy by numpy.load (also memory-mapped, also after a
// continuous run stopped by Ctrl-C), WAV by Python's wave and sox. Every
// reader sees the scans of the CSV of the same acquisition (virtual cards
// give the same signal every run). kvd4093 convert writes the very file
// acquire writes; a stop by a signal or by a reader that quits leaves every
// file readable; a name without a known extension is CSV.
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <nlohmann/json.hpp>

#include "output/sample_sink.h"
#include "output/sidecar.h"
#include "support/test_support.h"
#include "tool/format_readers.h"
#include "tool/tool_process.h"
#if defined(KVD4093_TOOL_HAVE_HDF5)
#include "output/hdf5_writer.h"
#endif

namespace kvd::testing {
namespace {

using Args = std::vector<std::string>;

Args operator+(Args a, const Args &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// 2000 scans of 4 channels at 25000 scans a second.
const Args kAcquisition = {"acquire", "--virtual=7", "--channels", "0-3", "--rate", "100k", "--samples", "2000"};

#define SKIP_WITHOUT(reader)                                                                                           \
    do {                                                                                                               \
        if (const std::string missing = missingReader(reader); !missing.empty())                                     \
            GTEST_SKIP() << missing;                                                                                   \
    } while (false)

std::vector<std::string> fieldsOf(const std::string &row) {
    std::vector<std::string> fields;
    std::stringstream text(row);
    for (std::string field; std::getline(text, field, ',');)
        fields.push_back(field);
    return fields;
}

// Rows of numbers equal to a relative 1e-5: sigrok-cli prints six digits.
void expectSameValues(const std::vector<std::string> &rows, const std::vector<std::string> &expected) {
    ASSERT_EQ(rows.size(), expected.size());
    for (size_t row = 0; row < rows.size(); ++row) {
        const std::vector<std::string> got = fieldsOf(rows[row]), want = fieldsOf(expected[row]);
        ASSERT_EQ(got.size(), want.size()) << rows[row] << " | " << expected[row];
        for (size_t i = 0; i < got.size(); ++i) {
            const double value = std::stod(want[i]);
            ASSERT_NEAR(std::stod(got[i]), value, 1e-5 * std::fabs(value) + 1e-12)
                << "scan " << row << " column " << i << ": " << rows[row] << " | " << expected[row];
        }
    }
}

class ToolFormatTest : public ::testing::Test {
protected:
    ChildResult run(const Args &arguments, const Environment &environment = {}) {
        return runTool(dir_.path(), arguments, environment);
    }
    void acquire(const Args &options) {
        const ChildResult result = run(kAcquisition + options);
        ASSERT_EQ(result.exitCode, 0) << result.err;
    }
    std::string file(const std::string &name) const { return dir_.file(name); }
    // The scans of `scans` from the start as CSV value rows: the reference
    // any stopped acquisition's file must hold.
    std::vector<std::string> referenceRows(uint64_t scans, const Args &acquisition) {
        const ChildResult result =
            run(acquisition + Args{"--samples", std::to_string(scans), "--output", "reference.csv"});
        EXPECT_EQ(result.exitCode, 0) << result.err;
        return csvValueRows(file("reference.csv"));
    }
    TempDir dir_;
};

struct ScaleCase {
    Args scale;
    std::string unit; // the metadata's
};

void PrintTo(const ScaleCase &c, std::ostream *out) { *out << (c.scale.empty() ? "codes" : c.scale[1]); }

class ToolSigrokTest : public ToolFormatTest, public ::testing::WithParamInterface<ScaleCase> {};

TEST_P(ToolSigrokTest, SessionReadsAsTheCsvOfTheSameAcquisition) {
    SKIP_WITHOUT("sigrok-cli");
    const ScaleCase &c = GetParam();
    acquire(c.scale + Args{"--output", "run.csv"});
    acquire(c.scale + Args{"--output", "run.sr"});
    ReadBack session = readSigrokSession(file("run.sr"));
    ASSERT_EQ(session.exitCode, 0) << session.err;
    EXPECT_EQ(session.properties["Samplerate"], "25000");
    EXPECT_EQ(session.properties["Channels"], "4");
    EXPECT_EQ(session.properties["- ch0"], "analog");
    EXPECT_EQ(session.properties["- ch3"], "analog");
    EXPECT_EQ(session.properties["Analog sample count"], "2000");
    expectSameValues(session.rows, csvValueRows(file("run.csv")));
    EXPECT_NE(zipMember(file("run.sr"), "metadata").find("\nunit = " + c.unit + "\n"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Scales, ToolSigrokTest,
                         ::testing::Values(ScaleCase{{}, "code"},
                                           ScaleCase{{"--scale", "0.000305175781,-10,V"}, "V"},
                                           ScaleCase{{"--scale", "-2.5,mV"}, "mV"},
                                           ScaleCase{{"--scale", "2,m\"\\V"}, "m\"\\\\V"}));

// The version `kvd4093 list` shows for the card.
std::string listedVersion(const ChildResult &list) {
    std::smatch match;
    std::regex_search(list.out, match, std::regex("\n +0 +7 +([0-9.]+)\n"));
    return match[1];
}

TEST_F(ToolFormatTest, Hdf5HoldsTheScansAndEveryAttribute) {
    SKIP_WITHOUT("h5py");
    SKIP_WITHOUT("h5dump");
    acquire({"--output", "run.csv"});
    acquire({"--output", "run.h5", "--scale", "0.5,-3,mV"});
    ReadBack h5 = readHdf5(file("run.h5"));
    ASSERT_EQ(h5.exitCode, 0) << h5.err;
    EXPECT_EQ(h5.rows, csvValueRows(file("run.csv")));
    EXPECT_EQ(h5.properties["shape"], "2000 4");
    EXPECT_EQ(h5.properties["dtype"], "uint16");
    EXPECT_EQ(h5.properties["maxshape"], "unlimited 4");
    EXPECT_EQ(h5.properties["chunked"], "True");

    std::set<std::string> attributes;
    for (const auto &[name, value] : h5.properties)
        if (name.rfind("attr:", 0) == 0)
            attributes.insert(name.substr(5));
    EXPECT_EQ(attributes, (std::set<std::string>{"ad_para", "card_logical_number", "card_physical_id", "card_version",
                                                 "channels", "complete", "continuous", "first_scan_after_start_s",
                                                 "planned_scans", "sample_encoding", "sample_rate_hz",
                                                 "scale_gain", "scale_offset", "scale_unit", "scan_rate_hz",
                                                 "start_monotonic_ns", "start_time", "start_utc_ns"}));
    EXPECT_EQ(h5.properties["attr:sample_rate_hz"], "100000.0");
    EXPECT_EQ(h5.properties["attr:scan_rate_hz"], "25000.0");
    EXPECT_EQ(h5.properties["attr:channels"], "[0, 1, 2, 3]");
    EXPECT_EQ(h5.properties["attr:card_logical_number"], "0");
    EXPECT_EQ(h5.properties["attr:card_physical_id"], "7");
    EXPECT_EQ(h5.properties["attr:card_version"], listedVersion(run({"list", "--virtual=7"})));
    EXPECT_TRUE(std::regex_match(h5.properties["attr:start_time"],
                                 std::regex("[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3}Z")))
        << h5.properties["attr:start_time"];
    EXPECT_EQ(h5.properties["attr:planned_scans"], "2000");
    EXPECT_EQ(h5.properties["attr:continuous"], "0");
    EXPECT_EQ(h5.properties["attr:complete"], "1");
    EXPECT_EQ(h5.properties["attr:scale_gain"], "0.5");
    EXPECT_EQ(h5.properties["attr:scale_offset"], "-3.0");
    EXPECT_EQ(h5.properties["attr:scale_unit"], "mV");
    EXPECT_EQ(h5.properties["gaps"], "[]");
    // The record as the card received it, the saved settings changed by the options.
    EXPECT_NE(h5.properties["attr:ad_para"].find("FirstChannel=0 LastChannel=3 Frequency=100000 "), std::string::npos)
        << h5.properties["attr:ad_para"];
    EXPECT_EQ(std::count(h5.properties["attr:ad_para"].begin(), h5.properties["attr:ad_para"].end(), '='), 17);

    const ChildResult dump = runChild(findProgram("h5dump"), {"-H", file("run.h5")}, dir_.path());
    EXPECT_EQ(dump.exitCode, 0) << dump.err;
    EXPECT_NE(dump.out.find("DATASET \"samples\""), std::string::npos) << dump.out;
    EXPECT_NE(dump.out.find("DATASPACE  SIMPLE { ( 2000, 4 ) / ( H5S_UNLIMITED, 4 ) }"), std::string::npos);
}

TEST_F(ToolFormatTest, Hdf5WithoutAScaleHasNoScaleAttributes) {
    SKIP_WITHOUT("h5py");
    acquire({"--output", "run.h5"});
    ReadBack h5 = readHdf5(file("run.h5"));
    ASSERT_EQ(h5.exitCode, 0) << h5.err;
    EXPECT_EQ(h5.properties.count("attr:scale_gain"), 0u);
    EXPECT_EQ(h5.properties.count("attr:scale_unit"), 0u);
    EXPECT_EQ(h5.properties.count("attr:scan_rate_hz"), 1u);
}

#if defined(KVD4093_TOOL_HAVE_HDF5)
// A long lossy run (acquire --on-overrun continue) keeps every gap, however
// many: more than the 64 KiB an attribute holds.
TEST_F(ToolFormatTest, Hdf5KeepsTenThousandGaps) {
    SKIP_WITHOUT("h5py");
    constexpr uint64_t kGaps = 10000;
    tool::AcquisitionInfo info;
    info.para.LastChannel = 1;
    info.sampleRate = 1000;
    info.plannedScans = 2 * kGaps;
    std::string expected;
    {
        tool::Hdf5Writer writer(file("run.h5"));
        writer.begin(info);
        for (uint64_t scan = 0; scan < 2 * kGaps; scan += 2) {
            const uint16_t samples[2] = {uint16_t(scan), uint16_t(scan + 1)};
            writer.write(samples, scan, 1);
            writer.gap(scan + 1, 1);
            expected += (expected.empty() ? "[[" : ", [") + std::to_string(scan + 1) + ", 1]";
        }
        tool::AcquisitionOutcome outcome;
        outcome.scans = kGaps;
        writer.finish(outcome);
    }
    ReadBack h5 = readHdf5(file("run.h5"));
    ASSERT_EQ(h5.exitCode, 0) << h5.err;
    EXPECT_EQ(h5.rows.size(), kGaps);
    EXPECT_EQ(h5.properties["gaps"], expected + "]");
    EXPECT_EQ(h5.properties["attr:complete"], "1") << "the lost scans count towards the scans planned";
}
#endif

TEST_F(ToolFormatTest, NpyLoadsPlainAndMemoryMapped) {
    SKIP_WITHOUT("numpy");
    acquire({"--output", "run.csv"});
    acquire({"--output", "run.npy"});
    for (const bool mapped : {false, true}) {
        ReadBack npy = readNpy(file("run.npy"), mapped);
        ASSERT_EQ(npy.exitCode, 0) << npy.err;
        EXPECT_EQ(npy.properties["shape"], "2000 4");
        EXPECT_EQ(npy.properties["dtype"], "uint16");
        EXPECT_EQ(npy.properties["order"], "C");
        EXPECT_EQ(npy.properties["memmap"], mapped ? "True" : "False");
        EXPECT_EQ(npy.rows, csvValueRows(file("run.csv")));
    }
}

// Reads of sample blocks in the trace: the acquisition is delivering.
void waitForBlocks(const std::string &trace, size_t blocks) {
    for (int waited = 0; waited < 20000; waited += 10) {
        const std::string text = readWholeFile(trace);
        size_t count = 0;
        for (size_t at = 0; (at = text.find("BULK_READ pipe=2 ", at)) != std::string::npos; ++at)
            ++count;
        if (count >= blocks)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

TEST_F(ToolFormatTest, WavHasTheChannelsRateAndFramesForWaveAndSox) {
    SKIP_WITHOUT("sox");
    acquire({"--output", "run.csv"});
    acquire({"--output", "run.wav"});
    ReadBack wav = readWav(file("run.wav"));
    ASSERT_EQ(wav.exitCode, 0) << wav.err;
    EXPECT_EQ(wav.properties["channels"], "4");
    EXPECT_EQ(wav.properties["rate"], "25000");
    EXPECT_EQ(wav.properties["width"], "2");
    EXPECT_EQ(wav.properties["frames"], "2000");
    EXPECT_EQ(wav.rows, csvValueRows(file("run.csv")));
    ReadBack sox = soxInfo(file("run.wav"));
    ASSERT_EQ(sox.exitCode, 0) << sox.err;
    EXPECT_EQ(sox.properties["Channels"], "4");
    EXPECT_EQ(sox.properties["Sample Rate"], "25000");
    EXPECT_EQ(sox.properties["Precision"], "16-bit");
    EXPECT_NE(sox.properties["Duration"].find("= 2000 samples"), std::string::npos) << sox.properties["Duration"];
}

uint32_t littleEndian32(const std::string &bytes, size_t at) {
    return uint32_t(uint8_t(bytes[at])) | uint32_t(uint8_t(bytes[at + 1])) << 8 |
           uint32_t(uint8_t(bytes[at + 2])) << 16 | uint32_t(uint8_t(bytes[at + 3])) << 24;
}

// On standard output the sizes cannot be written at the end: they say
// "unknown" as sox writes it, and readers read to the end of the data.
TEST_F(ToolFormatTest, WavOnStandardOutputSaysItsSizesAreUnknown) {
    SKIP_WITHOUT("sox");
    acquire({"--output", "run.csv"});
    const ChildResult streamed = run(kAcquisition + Args{"--output", "-", "--format", "wav"});
    ASSERT_EQ(streamed.exitCode, 0) << streamed.err;
    ASSERT_EQ(streamed.out.size(), 44u + 2000 * 4 * 2);
    EXPECT_EQ(littleEndian32(streamed.out, 4), 0x7FFFF000u + 36);
    EXPECT_EQ(littleEndian32(streamed.out, 40), 0x7FFFF000u);
    std::FILE *saved = std::fopen(file("streamed.wav").c_str(), "wb");
    std::fwrite(streamed.out.data(), 1, streamed.out.size(), saved);
    std::fclose(saved);
    ReadBack wav = readWav(file("streamed.wav"));
    ASSERT_EQ(wav.exitCode, 0) << wav.err;
    EXPECT_EQ(wav.rows, csvValueRows(file("run.csv")));
    ReadBack sox = soxInfo(file("streamed.wav"));
    ASSERT_EQ(sox.exitCode, 0) << sox.err;
    EXPECT_EQ(sox.properties["Channels"], "4");
    EXPECT_EQ(sox.properties["Sample Rate"], "25000");
    EXPECT_EQ(sox.properties.count("Duration"), 0u) << "sox takes the length as unknown";
}

// ---- one run's record ---------------------------------------------------

// A value as words that compare alike whatever wrote it: numbers by their
// double ("2000", "2000.0" and 2e3 the same), truth as 1 or 0, lists and
// texts without their brackets, commas, semicolons and quotes.
std::string plainValue(const std::string &text) {
    std::string words;
    std::istringstream in(std::regex_replace(text, std::regex("[\\[\\],;\"{}]"), " "));
    for (std::string word; in >> word;) {
        char *end = nullptr;
        const double number = std::strtod(word.c_str(), &end);
        char digits[64];
        std::snprintf(digits, sizeof digits, "%.17g", number);
        if (word == "true" || word == "True")
            word = "1";
        else if (word == "false" || word == "False")
            word = "0";
        else if (!word.empty() && *end == '\0')
            word = digits;
        words += (words.empty() ? "" : " ") + word;
    }
    return words;
}

// The "key = value" lines of the session's metadata, of every group.
std::map<std::string, std::string> keyFileValues(const std::string &text) {
    std::map<std::string, std::string> values;
    std::smatch line;
    for (const std::string &row : linesOf(text))
        if (std::regex_match(row, line, std::regex("([^=]+[^ =]) = ?(.*)")))
            values[line[1]] = line[2];
    return values;
}

struct RecordField {
    std::string name;
    std::string sidecar; // a JSON pointer
    std::string hdf5;    // an attribute
    std::string sigrok;  // a key of the group [kvd4093]
};

// One run, with a scale and a gap, written out by the sidecar, the HDF5
// attributes and the sigrok session's metadata: every field of its record
// reads back the same from all three.
TEST_F(ToolFormatTest, SidecarHdf5AndSigrokRecordTheSameRun) {
    SKIP_WITHOUT("h5py");
    acquire({"--output", "run.bin", "--scale", "0.5,-3,mV"});
    tool::RunRecord record = tool::readSidecar(file("run.bin.json"));
    // 50 scans lost after scan 100, and a stop 10 scans short: not complete.
    record.scans -= 60;
    record.gaps = {{100, 50}};
    writeWholeFile(file("run.bin.json"), tool::sidecarText(record));
    std::filesystem::resize_file(file("run.bin"), record.scans * 4 * sizeof(uint16_t));
    ASSERT_EQ(run({"convert", "run.bin", "run.h5"}).exitCode, 0);
    ASSERT_EQ(run({"convert", "run.bin", "run.sr"}).exitCode, 0);

    const nlohmann::json sidecar = nlohmann::json::parse(readWholeFile(file("run.bin.json")));
    ReadBack h5 = readHdf5(file("run.h5"));
    ASSERT_EQ(h5.exitCode, 0) << h5.err;
    std::map<std::string, std::string> sigrok = keyFileValues(zipMember(file("run.sr"), "metadata"));
    // The fields kept as one value in some and spread in others, made one.
    h5.properties["scans"] = h5.properties["shape"].substr(0, h5.properties["shape"].find(' '));
    for (int channel = 1; sigrok.count("analog" + std::to_string(channel)) != 0; ++channel)
        sigrok["channels"] += sigrok["analog" + std::to_string(channel)].substr(2) + " ";
    std::istringstream firsts(plainValue(sigrok["gap first scans"])), losts(plainValue(sigrok["gap scans lost"]));
    for (std::string first, lost; firsts >> first && losts >> lost;)
        sigrok["gaps"] += first + " " + lost + " ";
    std::string sidecarGaps;
    for (const auto &gap : sidecar["gaps"])
        sidecarGaps += gap["first_scan"].dump() + " " + gap["scans_lost"].dump() + " ";

    const RecordField fields[] = {
        {"sample rate", "/rate_hz", "attr:sample_rate_hz", "sample rate hz"},
        {"scan rate", "/scan_rate_hz", "attr:scan_rate_hz", "scan rate hz"},
        {"channels", "/channels", "attr:channels", "channels"},
        {"card's logical number", "/card/logical_number", "attr:card_logical_number", "card logical number"},
        {"card's physical ID", "/card/physical_id", "attr:card_physical_id", "card physical id"},
        {"card's version", "/card/version", "attr:card_version", "card version"},
        {"start time", "/start_time", "attr:start_time", "start time"},
        {"start on UTC", "/start_utc_ns", "attr:start_utc_ns", "start utc ns"},
        {"start on the monotonic clock", "/start_monotonic_ns", "attr:start_monotonic_ns", "start monotonic ns"},
        {"scan 0 after the start", "/first_scan_after_start_s", "attr:first_scan_after_start_s",
         "first scan after start s"},
        {"scans", "/scans", "scans", "scans"},
        {"planned scans", "/planned_scans", "attr:planned_scans", "planned scans"},
        {"continuous", "/continuous", "attr:continuous", "continuous"},
        {"complete", "/complete", "attr:complete", "complete"},
        {"gaps", "", "gaps", "gaps"},
        {"scale's gain", "/scale/gain", "attr:scale_gain", "scale gain"},
        {"scale's offset", "/scale/offset", "attr:scale_offset", "scale offset"},
        {"unit", "/scale/unit", "attr:scale_unit", "unit"},
    };
    for (const RecordField &field : fields) {
        const std::string written =
            plainValue(field.sidecar.empty() ? sidecarGaps : sidecar.at(nlohmann::json::json_pointer(field.sidecar)).dump());
        EXPECT_FALSE(written.empty()) << field.name;
        EXPECT_EQ(plainValue(h5.properties[field.hdf5]), written) << field.name << " in the HDF5 attributes";
        EXPECT_EQ(plainValue(sigrok[field.sigrok]), written) << field.name << " in the session's metadata";
    }
    EXPECT_EQ(plainValue(sidecar["complete"].dump()), "0");
    EXPECT_EQ(plainValue(sidecarGaps), "100 50");
}

// ---- convert ----------------------------------------------------------

// The start a sidecar records (start_time, start_utc_ns, start_monotonic_ns)
// made the one given, for the names given.
void replaceStart(const std::string &sidecar, const std::map<std::string, std::string> &start) {
    std::string text = readWholeFile(sidecar);
    for (const auto &[name, value] : start) {
        const bool quoted = name == "start_time";
        text = std::regex_replace(text, std::regex("\"" + name + (quoted ? "\": \"[^\"]*\"" : "\": [0-9]+")),
                                  "\"" + name + "\": " + (quoted ? "\"" + value + "\"" : value));
    }
    std::FILE *file = std::fopen(sidecar.c_str(), "wb");
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
}

// The start a file recorded, where the format records one: the start time,
// and the start on the UTC and the monotonic clock in nanoseconds where it
// has them.
std::map<std::string, std::string> recordedStart(const std::string &format, const std::string &path) {
    std::map<std::string, std::string> start;
    const char *names[] = {"start_time", "start_utc_ns", "start_monotonic_ns"};
    if (format == "h5") {
        ReadBack h5 = readHdf5(path);
        for (const char *name : names)
            if (h5.properties.count(std::string("attr:") + name) != 0)
                start[name] = h5.properties[std::string("attr:") + name];
        return start;
    }
    std::string text;
    if (format == "sr")
        text = zipMember(path, "metadata");
    else if (format == "bin")
        text = readWholeFile(path + ".json");
    std::smatch match;
    if (std::regex_search(text, match, std::regex("start.time\"?:? =? ?\"?([0-9T:.Z-]+)")))
        start["start_time"] = match[1];
    // "start_utc_ns": 1 in JSON, start utc ns = 1 in a key file.
    for (const std::string name : {names[1], names[2]})
        if (std::regex_search(text, match,
                              std::regex(std::regex_replace(name, std::regex("_"), ".") + "\"?:? =? ?([0-9]+)")))
            start[name] = match[1];
    return start;
}

struct ConvertCase {
    std::string format;
    Args scale; // given to acquire and convert alike
};

void PrintTo(const ConvertCase &c, std::ostream *out) { *out << c.format << (c.scale.empty() ? "" : " scaled"); }

class ToolConvertTest : public ToolFormatTest, public ::testing::WithParamInterface<ConvertCase> {};

// The raw recording, converted, is byte for byte the file acquire writes
// directly (the start time, which differs between the two runs, taken over).
TEST_P(ToolConvertTest, ConvertedFileIsTheOneAcquireWrites) {
    const ConvertCase &c = GetParam();
    if (c.format == "h5")
        SKIP_WITHOUT("h5py");
    acquire({"--output", "run.bin"});
    acquire(c.scale + Args{"--output", "direct." + c.format});
    replaceStart(file("run.bin.json"), recordedStart(c.format, file("direct." + c.format)));
    const ChildResult converted = run(Args{"convert", "run.bin", "converted." + c.format} + c.scale);
    ASSERT_EQ(converted.exitCode, 0) << converted.err;
    EXPECT_EQ(converted.out, "converted 2000 scans of run.bin into converted." + c.format + "\n");
    const std::string direct = readWholeFile(file("direct." + c.format));
    ASSERT_GT(direct.size(), 2000u * 4);
    EXPECT_TRUE(readWholeFile(file("converted." + c.format)) == direct);
    if (c.format == "bin") {
        EXPECT_EQ(readWholeFile(file("converted.bin.json")), readWholeFile(file("direct.bin.json")));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Formats, ToolConvertTest,
    ::testing::Values(ConvertCase{"csv", {}}, ConvertCase{"csv", {"--scale", "0.000305175781,-10,V"}},
                      ConvertCase{"bin", {}}, ConvertCase{"bin", {"--scale", "2,1,mV"}}, ConvertCase{"sr", {}},
                      ConvertCase{"sr", {"--scale", "0.001,V"}}, ConvertCase{"h5", {}},
                      ConvertCase{"h5", {"--scale", "0.5,-3,mV"}}, ConvertCase{"npy", {}}, ConvertCase{"wav", {}}));

// Scans the card converted that never reached the file: the sidecar lists
// them, and convert marks them where each format can.
TEST_F(ToolFormatTest, ConvertMarksTheLostScansTheSidecarLists) {
    acquire({"--output", "run.bin"});
    const std::string sidecar = std::regex_replace(readWholeFile(file("run.bin.json")), std::regex("\"gaps\": \\[\\]"),
                                                   "\"gaps\": [{\"first_scan\": 100, \"scans_lost\": 50}]");
    std::FILE *edited = std::fopen(file("run.bin.json").c_str(), "wb");
    std::fwrite(sidecar.data(), 1, sidecar.size(), edited);
    std::fclose(edited);

    ASSERT_EQ(run({"convert", "run.bin", "run.csv"}).exitCode, 0);
    const std::vector<std::string> lines = linesOf(readWholeFile(file("run.csv")));
    ASSERT_EQ(lines.size(), 1u + 2000 + 1);
    EXPECT_EQ(lines[100].substr(0, 3), "99,");
    EXPECT_EQ(lines[101], "# 50 scans lost from scan 100");
    EXPECT_EQ(lines[102].substr(0, 14), "150,0.0060000,") << lines[102];
    EXPECT_EQ(lines.back().substr(0, 5), "2049,");

    ASSERT_EQ(run({"convert", "run.bin", "again.bin"}).exitCode, 0);
    EXPECT_NE(readWholeFile(file("again.bin.json")).find("\"gaps\": [{\"first_scan\": 100, \"scans_lost\": 50}],"),
              std::string::npos);
    if (missingReader("h5py").empty()) {
        ASSERT_EQ(run({"convert", "run.bin", "run.h5"}).exitCode, 0);
        EXPECT_EQ(readHdf5(file("run.h5")).properties["gaps"], "[[100, 50]]");
    }
}

TEST_F(ToolFormatTest, ConvertRefusesARecordingItsSidecarDoesNotDescribe) {
    acquire({"--output", "run.bin"});
    std::filesystem::resize_file(file("run.bin"), 1999 * 8 + 3);
    const ChildResult result = run({"convert", "run.bin", "run.csv"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, "kvd4093: run.bin holds 1999 scans, its sidecar says 2000\n");
    EXPECT_FALSE(std::filesystem::exists(file("run.csv")));
    std::filesystem::remove(file("run.bin.json"));
    EXPECT_EQ(run({"convert", "run.bin", "run.csv"}).err,
              "kvd4093: cannot read run.bin.json: No such file or directory\n");
}

std::set<std::string> namesIn(const std::string &folder) {
    std::set<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

// An OUT that is a file convert reads, however it is named: a usage error
// before anything is written, the input as it was.
struct IntoItsInputCase {
    std::string name;
    std::string output;
    void (*prepare)(const std::string &folder); // the links the case needs, or nullptr
    std::string written;                         // the file of OUT's named in the message
    std::string read;                            // the file of the input's it is
};

void PrintTo(const IntoItsInputCase &c, std::ostream *out) { *out << c.name; }

class ToolConvertIntoItsInputTest : public ToolFormatTest, public ::testing::WithParamInterface<IntoItsInputCase> {};

TEST_P(ToolConvertIntoItsInputTest, IsRefusedAndTheInputStaysAsItWas) {
    const IntoItsInputCase &c = GetParam();
    acquire({"--output", "run.bin"});
    if (c.prepare != nullptr)
        c.prepare(dir_.path());
    const std::string samples = readWholeFile(file("run.bin")), sidecar = readWholeFile(file("run.bin.json"));
    const std::set<std::string> names = namesIn(dir_.path());
    const ChildResult result = run({"convert", "run.bin", c.output});
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_EQ(result.err,
              "kvd4093: convert would write " + c.written + ", which is " + c.read + ": give OUT another name\n");
    EXPECT_EQ(readWholeFile(file("run.bin")), samples);
    EXPECT_EQ(readWholeFile(file("run.bin.json")), sidecar);
    EXPECT_EQ(namesIn(dir_.path()), names) << "nothing written, nothing left behind";
}

INSTANTIATE_TEST_SUITE_P(
    Outputs, ToolConvertIntoItsInputTest,
    ::testing::Values(
        IntoItsInputCase{"same_name", "run.bin", nullptr, "run.bin", "the input run.bin"},
        IntoItsInputCase{"its_sidecar", "run.bin.json", nullptr, "run.bin.json", "the input's sidecar run.bin.json"},
        IntoItsInputCase{"another_spelling", "./run.bin.json", nullptr, "./run.bin.json",
                         "the input's sidecar run.bin.json"},
        IntoItsInputCase{"hard_link",
                         "copy.csv",
                         [](const std::string &folder) {
                             std::filesystem::create_hard_link(folder + "/run.bin.json", folder + "/copy.csv");
                         },
                         "copy.csv", "the input's sidecar run.bin.json"},
        IntoItsInputCase{"symbolic_link",
                         "link.wav",
                         [](const std::string &folder) {
                             std::filesystem::create_symlink("run.bin", folder + "/link.wav");
                         },
                         "link.wav", "the input run.bin"},
        IntoItsInputCase{"its_companion_a_link",
                         "other.bin",
                         [](const std::string &folder) {
                             std::filesystem::create_symlink("run.bin.json", folder + "/other.bin.json");
                         },
                         "other.bin.json", "the input's sidecar run.bin.json"}),
    [](const ::testing::TestParamInfo<IntoItsInputCase> &info) { return info.param.name; });

// Quotes and backslashes in the sidecar's texts and in the files' names come
// back as they were: the sidecar convert writes is the one it read.
TEST_F(ToolFormatTest, ConvertKeepsTextsWithQuotesAndBackslashes) {
    acquire({"--output", "run.bin", "--scale", "2,1,m\"\\V"});
    std::string sidecar = readWholeFile(file("run.bin.json"));
    sidecar = std::regex_replace(sidecar, std::regex("\"version\": \"[^\"]*\""), "\"version\": \"1.0\\\"\\\\x\"");
    sidecar = std::regex_replace(sidecar, std::regex("\"start_time\": \"[^\"]*\""),
                                 "\"start_time\": \"2026\\\"\\\\Z\"");
    ASSERT_NE(sidecar.find("\"unit\": \"m\\\"\\\\V\""), std::string::npos) << sidecar;
    const std::string input = "in\"\\x.bin", output = "out\"\\y.bin";
    std::filesystem::rename(file("run.bin"), file(input));
    std::filesystem::remove(file("run.bin.json"));
    writeWholeFile(file(input + ".json"), sidecar);

    const ChildResult converted = run({"convert", input, output});
    ASSERT_EQ(converted.exitCode, 0) << converted.err;
    EXPECT_EQ(converted.out, "converted 2000 scans of " + input + " into " + output + "\n");
    EXPECT_EQ(readWholeFile(file(output + ".json")), sidecar);
    EXPECT_TRUE(readWholeFile(file(output)) == readWholeFile(file(input)));

    ASSERT_EQ(run({"convert", output, "run.csv"}).exitCode, 0);
    EXPECT_EQ(linesOf(readWholeFile(file("run.csv"))).at(0),
              "scan,time_s,\"ch0_m\"\"\\V\",\"ch1_m\"\"\\V\",\"ch2_m\"\"\\V\",\"ch3_m\"\"\\V\"");
}

// ---- stops --------------------------------------------------------------

struct StopCase {
    std::string format;
    int signal;
    int exitCode;
};

void PrintTo(const StopCase &c, std::ostream *out) { *out << c.format << " " << c.exitCode; }

class ToolStopFormatTest : public ToolFormatTest, public ::testing::WithParamInterface<StopCase> {
protected:
    // The scans in the file as its reader sees them, a CSV value row each.
    ReadBack readBack(const std::string &path) {
        const std::string &format = GetParam().format;
        if (format == "sr")
            return readSigrokSession(path);
        if (format == "h5")
            return readHdf5(path);
        if (format == "npy")
            return readNpy(path, true);
        if (format == "wav")
            return readWav(path);
        ReadBack csv;
        csv.exitCode = 0;
        csv.rows = csvValueRows(path);
        return csv;
    }
};

// A signal during a paced acquisition: the file is completed (the NPY and
// WAV sizes written, the zip and HDF5 file closed) and holds every scan the
// summary counts.
TEST_P(ToolStopFormatTest, EveryFormatStaysReadableWithTheScansCounted) {
    const StopCase &c = GetParam();
    if (c.format == "sr")
        SKIP_WITHOUT("sigrok-cli");
    if (c.format == "h5")
        SKIP_WITHOUT("h5py");
    const Args acquisition = {"acquire", "--virtual=7", "--channels", "0-1", "--rate", "20k"};
    ToolProcess tool(dir_.path(), acquisition + Args{"--time", "60s", "--output", "run." + c.format},
                     {{"KVD4093_VIRTUAL_PACING", "on"}, {"KVD4093_TRACE", file("trace.txt")}});
    waitForBlocks(file("trace.txt"), 4);
    tool.signal(c.signal);
    const ChildResult result = tool.wait(std::chrono::seconds(20));
    ASSERT_EQ(result.exitCode, c.exitCode) << result.err;
    const uint64_t scans = acquiredScans(result.out);
    ASSERT_GT(scans, 0u) << result.out;
    const ReadBack back = readBack(file("run." + c.format));
    ASSERT_EQ(back.exitCode, 0) << back.err;
    if (c.format == "sr")
        expectSameValues(back.rows, referenceRows(scans, acquisition));
    else
        EXPECT_EQ(back.rows, referenceRows(scans, acquisition));
}

INSTANTIATE_TEST_SUITE_P(Formats, ToolStopFormatTest,
                         ::testing::Values(StopCase{"csv", SIGTERM, 143}, StopCase{"sr", SIGINT, 130},
                                           StopCase{"sr", SIGTERM, 143}, StopCase{"h5", SIGINT, 130},
                                           StopCase{"h5", SIGTERM, 143}, StopCase{"npy", SIGINT, 130}, StopCase{"npy", SIGTERM, 143},
                                           StopCase{"wav", SIGINT, 130}, StopCase{"wav", SIGTERM, 143}));

// A reader that quits: the card stops, the plot is completed with what was
// acquired, and what reached the reader is a WAV its readers take.
TEST_F(ToolFormatTest, AReaderThatQuitsLeavesTheFilesReadable) {
    SKIP_WITHOUT("sox");
    const std::string script = "\"$0\" acquire --virtual=7 --channels 0-1 --rate 20k --time 60s --output - "
                               "--format wav --plot run.svg 2>err.txt | head -c 40044 > cut.wav; exit 0";
    ChildProcess shell("/bin/sh", {"-c", script, KVD4093_TOOL_PATH}, dir_.path(),
                       toolEnvironment(dir_.path(), {{"KVD4093_VIRTUAL_PACING", "on"},
                                                     {"KVD4093_TRACE", file("trace.txt")}}));
    ASSERT_EQ(shell.wait(std::chrono::seconds(20)).exitCode, 0);
    const std::string trace = readWholeFile(file("trace.txt"));
    EXPECT_GT(trace.rfind("data=0300"), trace.rfind(kTracedAdStart)) << "the card is stopped";
    ReadBack wav = readWav(file("cut.wav"));
    ASSERT_EQ(wav.exitCode, 0) << wav.err;
    EXPECT_EQ(wav.properties["channels"], "2");
    EXPECT_EQ(wav.rows, referenceRows(10000, {"acquire", "--virtual=7", "--channels", "0-1", "--rate", "20k"}));
    EXPECT_EQ(soxInfo(file("cut.wav")).exitCode, 0);
    const std::string svg = readWholeFile(file("run.svg"));
    EXPECT_EQ(svg.rfind("<?xml ", 0), 0u);
    EXPECT_EQ(std::count(svg.begin(), svg.end(), '<') - std::count(svg.begin(), svg.end(), '>'), 0);
    EXPECT_EQ(svg.substr(svg.size() - 7), "</svg>\n");
}

// ---- names --------------------------------------------------------------

// A name without a known extension is written in the default format, CSV,
// or in the one --format gives.
TEST_F(ToolFormatTest, ANameWithoutAKnownExtensionIsCsv) {
    acquire({"--output", "run.csv"});
    acquire({"--output", "data"});
    EXPECT_EQ(readWholeFile(file("data")), readWholeFile(file("run.csv")));
    acquire({"--output", "run.txt"});
    EXPECT_EQ(readWholeFile(file("run.txt")), readWholeFile(file("run.csv")));
    acquire({"--output", "/dev/null"});
    acquire({"--output", "data.bin", "--format", "csv"});
    EXPECT_EQ(readWholeFile(file("data.bin")), readWholeFile(file("run.csv")));
    if (missingReader("numpy").empty()) {
        acquire({"--output", "numbers", "--format", "npy"});
        EXPECT_EQ(readNpy(file("numbers"), false).rows, csvValueRows(file("run.csv")));
    }
}

TEST_F(ToolFormatTest, AFifoIsWrittenInPlaceAsCsv) {
    acquire({"--output", "run.csv"});
    ASSERT_EQ(mkfifo(file("pipe").c_str(), 0600), 0);
    ChildProcess reader("/bin/cat", {"pipe"}, dir_.path());
    const ChildResult result = run(kAcquisition + Args{"--output", "pipe"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    // A tool that never opened the FIFO leaves the reader waiting: it is killed then.
    EXPECT_EQ(reader.wait(std::chrono::seconds(result.exitCode == 0 ? 20 : 1)).out, readWholeFile(file("run.csv")));
    EXPECT_EQ(std::filesystem::status(file("pipe")).type(), std::filesystem::file_type::fifo);
}

} // namespace
} // namespace kvd::testing
