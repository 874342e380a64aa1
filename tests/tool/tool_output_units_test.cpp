// The pieces of the tool's output formats on their own: --scale's numbers,
// the sidecar written and read back (hostile fields refused by name or
// written back readably, files that are no sidecar refused unread), and files
// that take their target's name only when committed.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <future>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "common/errors.h"
#include "output/output_file.h"
#include "output/scale.h"
#include "output/sidecar.h"
#include "output/staged_path.h"
#include "support/test_support.h"

namespace kvd::testing {
namespace {

namespace fs = std::filesystem;
using tool::Scale;

struct GoodScale {
    std::string text;
    int64_t gainUnits;
    int64_t offsetUnits;
    int decimals;
    std::string unit;
    std::string gainText;
    std::string offsetText;
};

void PrintTo(const GoodScale &c, std::ostream *out) { *out << c.text; }

class ScaleTest : public ::testing::TestWithParam<GoodScale> {};

TEST_P(ScaleTest, NumbersBecomeExactIntegersOverOnePowerOfTen) {
    const GoodScale &c = GetParam();
    const Scale scale = tool::parseScale(c.text);
    EXPECT_TRUE(scale.given);
    EXPECT_EQ(scale.gainUnits, c.gainUnits);
    EXPECT_EQ(scale.offsetUnits, c.offsetUnits);
    EXPECT_EQ(scale.decimals, c.decimals);
    EXPECT_EQ(scale.unit, c.unit);
    EXPECT_EQ(scale.gainText, c.gainText);
    EXPECT_EQ(scale.offsetText, c.offsetText);
    EXPECT_DOUBLE_EQ(scale.gain, std::stod(c.gainText));
    EXPECT_DOUBLE_EQ(scale.offset, std::stod(c.offsetText));
    // What the metadata records gives the same scale back.
    const Scale again = tool::scaleFromText(scale.gainText, scale.offsetText, scale.unit);
    EXPECT_EQ(again.gainUnits, scale.gainUnits);
    EXPECT_EQ(again.offsetUnits, scale.offsetUnits);
    EXPECT_EQ(again.decimals, scale.decimals);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ScaleTest,
    ::testing::Values(GoodScale{"2", 2, 0, 0, "", "2", "0"},
                      GoodScale{"0.000305,-10,V", 305, -10000000, 6, "V", "0.000305", "-10"},
                      GoodScale{"2.5,mV", 25, 0, 1, "mV", "2.5", "0"},
                      GoodScale{"0.5,,degC", 5, 0, 1, "degC", "0.5", "0"},
                      GoodScale{"1e-3,1.25e1", 1, 12500, 3, "", "0.001", "12.5"},
                      GoodScale{"-0.0100,+3", -1, 300, 2, "", "-0.01", "3"},
                      GoodScale{"1.5E2,0", 150, 0, 0, "", "150", "0"},
                      GoodScale{"0.000000000000001,m/s²", 1, 0, 15, "m/s²", "0.000000000000001", "0"},
                      GoodScale{"-9.87654321,2.5,a\"b\\c", -987654321, 250000000, 8, "a\"b\\c", "-9.87654321",
                                "2.5"}));

struct BadScale {
    std::string text;
    std::string why;
};

void PrintTo(const BadScale &c, std::ostream *out) { *out << c.text; }

class BadScaleTest : public ::testing::TestWithParam<BadScale> {};

TEST_P(BadScaleTest, IsAUsageErrorSayingWhy) {
    const BadScale &c = GetParam();
    try {
        tool::parseScale(c.text);
        FAIL() << "accepted";
    } catch (const tool::UsageError &error) {
        EXPECT_EQ(std::string(error.what()),
                  "--scale: \"" + c.text + "\" " + c.why + " (give GAIN[,OFFSET][,UNIT], e.g. 0.000305,-10,V)");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, BadScaleTest,
    ::testing::Values(BadScale{"", "has no gain of at most 15 digits and 15 decimals"},
                      BadScale{"volts", "has no gain of at most 15 digits and 15 decimals"},
                      BadScale{"0,1", "has a gain of zero"},
                      BadScale{"1,2,V,x", "has more than three fields"},
                      BadScale{"1,x,V", "has no offset of at most 15 digits and 15 decimals"},
                      BadScale{"0.0000000000000001", "has no gain of at most 15 digits and 15 decimals"},
                      BadScale{"1,1234567890123456,V", "has no offset of at most 15 digits and 15 decimals"},
                      BadScale{"1,2,tab\there", "has a unit that is not printable text of at most 32 bytes without a comma"},
                      BadScale{"1e17,0", "gives values beyond 18 digits"},
                      BadScale{"1.2.3", "has no gain of at most 15 digits and 15 decimals"},
                      BadScale{"1e", "has no gain of at most 15 digits and 15 decimals"}));

// Everything convert needs comes back from the text the sidecar holds: read
// back and written again, the text is the same, the rate exact to the bit.
TEST(SidecarTest, WhatIsWrittenReadsBack) {
    TempDir dir;
    tool::RunRecord written;
    tool::AcquisitionInfo &info = written.info;
    info.para = {1, 2, 3, 6, 30030, 5, 600, 7, 8, 9, 10, 11, 12, 13, 1, 0, 1};
    info.logicalNumber = 2;
    info.physicalId = 9;
    info.cardVersion = "1.0.1";
    info.sampleRate = 10000000.0 / 333;
    info.plannedScans = 12345;
    info.startTime = "2026-12-08T05:51:14.123Z";
    info.scale = tool::parseScale("0.000305,-10,V");
    written.scans = 12000;
    written.gaps = {{100, 5}, {4000, 123456789012}};
    writeWholeFile(dir.file("run.bin.json"), tool::sidecarText(written));
    const tool::RunRecord read = tool::readSidecar(dir.file("run.bin.json"));
    EXPECT_EQ(std::memcmp(&read.info.para, &info.para, sizeof info.para), 0);
    EXPECT_EQ(read.info.sampleRate, info.sampleRate) << "exactly";
    EXPECT_EQ(read.info.channelCount(), 4u);
    EXPECT_EQ(tool::sidecarText(read), tool::sidecarText(written));
}

// A field of the sidecar made hostile: `from` replaced by `to` in a good
// sidecar. Refused with `error` (a prefix when it ends in "..."), or, with no
// error, read, written back with the hostile value as it was, and read again.
struct HostileField {
    std::string from;
    std::string to;
    std::string error;
};

void PrintTo(const HostileField &c, std::ostream *out) { *out << c.to; }

class HostileSidecarTest : public ::testing::TestWithParam<HostileField> {};

TEST_P(HostileSidecarTest, IsRefusedByNameOrWrittenBackReadably) {
    const HostileField &c = GetParam();
    TempDir dir;
    const std::string path = dir.file("run.bin.json");
    tool::RunRecord contents;
    contents.info.para.LastChannel = 1;
    contents.info.sampleRate = 1000;
    contents.info.plannedScans = 10;
    contents.info.scale = tool::parseScale("2,1,V");
    contents.scans = 10;
    std::string text = tool::sidecarText(contents);
    ASSERT_NE(text.find(c.from), std::string::npos) << c.from;
    text.replace(text.find(c.from), c.from.size(), c.to);
    writeWholeFile(path, text);
    try {
        const std::string rewritten = tool::sidecarText(tool::readSidecar(path));
        ASSERT_EQ(c.error, "") << "accepted";
        EXPECT_NE(rewritten.find(c.to), std::string::npos) << rewritten;
        writeWholeFile(path, rewritten);
        EXPECT_EQ(tool::sidecarText(tool::readSidecar(path)), rewritten);
    } catch (const tool::ToolError &error) {
        ASSERT_NE(c.error, "") << error.what();
        const bool prefix = c.error.size() > 3 && c.error.compare(c.error.size() - 3, 3, "...") == 0;
        const std::string expected = path + ": " + c.error.substr(0, c.error.size() - (prefix ? 3 : 0));
        EXPECT_EQ(std::string(error.what()).substr(0, prefix ? expected.size() : std::string::npos), expected);
    }
}

const std::string kWholeInt64 = " is not a whole number from -9223372036854775808 to 9223372036854775807";
const std::string kWholeUint64 = " is not a whole number from 0 to 18446744073709551615";
const std::string kWholeInt32 = " is not a whole number from -2147483648 to 2147483647";
const std::string kNotARate = "\"rate_hz\" is not a positive normal number";

INSTANTIATE_TEST_SUITE_P(
    Fields, HostileSidecarTest,
    ::testing::Values(
        HostileField{"\"version\": \"\"", "\"version\": \"1.0\\\"\\\\x\"", ""},
        HostileField{"\"start_time\": \"\"", "\"start_time\": \"2026\\\"\\\\Z\"", ""},
        HostileField{"\"unit\": \"V\"", "\"unit\": \"m\\\"\\\\V\"", ""},
        HostileField{"\"start_utc_ns\": 0", "\"start_utc_ns\": 9223372036854775807", ""},
        HostileField{"\"start_monotonic_ns\": 0", "\"start_monotonic_ns\": -9223372036854775808", ""},
        HostileField{"\"rate_hz\": 1000", "\"rate_hz\": 1e-300", ""},
        HostileField{"\"rate_hz\": 1000,", "", "\"rate_hz\" is missing"},
        HostileField{"\"rate_hz\": 1000", "\"rate_hz\": 1e999", "\"rate_hz\" is a number beyond the range of a double"},
        HostileField{"\"rate_hz\": 1000", "\"rate_hz\": 5e-324", kNotARate},
        HostileField{"\"rate_hz\": 1000", "\"rate_hz\": 2.2250738585072014e-308", kNotARate},
        HostileField{"\"rate_hz\": 1000", "\"rate_hz\": 0", kNotARate},
        HostileField{"\"rate_hz\": 1000", "\"rate_hz\": -1000", kNotARate},
        HostileField{"\"rate_hz\": 1000", "\"rate_hz\": \"fast\"", kNotARate},
        HostileField{"\"rate_hz\": 1000", "\"rate_hz\": NaN", "not JSON after \"rate_hz\": ..."},
        HostileField{"\"start_utc_ns\": 0", "\"start_utc_ns\": 18446744073709551617", "\"start_utc_ns\"" + kWholeInt64},
        HostileField{"\"start_utc_ns\": 0", "\"start_utc_ns\": 9223372036854775808", "\"start_utc_ns\"" + kWholeInt64},
        HostileField{"\"start_monotonic_ns\": 0", "\"start_monotonic_ns\": -9223372036854775809",
                     "\"start_monotonic_ns\"" + kWholeInt64},
        HostileField{"\"scans\": 10", "\"scans\": -1", "\"scans\"" + kWholeUint64},
        HostileField{"\"scans\": 10", "\"scans\": 9223372036854775807", "\"scans\" is more than a file of 64-bit size holds"},
        HostileField{"\"planned_scans\": 10", "\"planned_scans\": 1.5", "\"planned_scans\"" + kWholeUint64},
        HostileField{"\"Frequency\": 0", "\"Frequency\": 2147483648", "\"Frequency\"" + kWholeInt32},
        HostileField{"\"physical_id\": 0", "\"physical_id\": \"7\"", "\"physical_id\"" + kWholeInt32},
        HostileField{"\"gaps\": []", "\"gaps\": [{\"first_scan\": -1, \"scans_lost\": 1}]", "\"first_scan\"" + kWholeUint64},
        HostileField{"\"gaps\": []", "\"gaps\": [{\"first_scan\": 5, \"scans_lost\": 18446744073709551615}]",
                     "\"gaps\" lose more scans than 64-bit scan numbers count"},
        HostileField{"\"gaps\": []", "\"gaps\": " + std::string(40, '[') + std::string(40, ']'),
                     "nested deeper than a sidecar is"},
        HostileField{"\"version\": \"\"", "\"version\": \"a\\u0001\"", "\"version\" holds a control character"},
        HostileField{"\"continuous\": false", "\"continuous\": \"no\"", "\"continuous\" is not true or false"},
        HostileField{"\"channels\": [0, 1]", "\"channels\": [0]", "\"channels\" is not the channels of \"ad_para\""},
        HostileField{"\"gain\": 2", "\"gain\": 0", "the scale 0, 1, \"V\" is not one --scale takes"},
        HostileField{"\"gain\": 2", "\"gain\": 1e999", "\"gain\" is a number beyond the range of a double"},
        HostileField{"{", "[", "not JSON: ..."}));

// What is not a regular file, or holds more than a sidecar can, is refused
// before it is read: never read without end, never waited on.
struct UnreadableSidecar {
    std::string name;
    void (*make)(const std::string &path);
    std::string why;
};

void PrintTo(const UnreadableSidecar &c, std::ostream *out) { *out << c.name; }

class UnreadableSidecarTest : public ::testing::TestWithParam<UnreadableSidecar> {};

TEST_P(UnreadableSidecarTest, IsRefusedSayingWhy) {
    const UnreadableSidecar &c = GetParam();
    TempDir dir;
    const std::string path = dir.file("run.bin.json");
    c.make(path);
    auto reading = std::async(std::launch::async, [&] {
        try {
            tool::readSidecar(path);
            return std::string("accepted");
        } catch (const tool::ToolError &error) {
            return std::string(error.what());
        }
    });
    if (reading.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        const int writer = ::open(path.c_str(), O_WRONLY | O_NONBLOCK); // ends a read waiting on a FIFO
        ::close(writer);
        FAIL() << "still reading after 10 s";
    }
    EXPECT_EQ(reading.get(), "cannot read " + path + ": " + c.why);
}

INSTANTIATE_TEST_SUITE_P(
    Files, UnreadableSidecarTest,
    ::testing::Values(
        UnreadableSidecar{"link_to_dev_zero", [](const std::string &path) { fs::create_symlink("/dev/zero", path); },
                          "not a regular file"},
        UnreadableSidecar{"fifo", [](const std::string &path) { ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0); },
                          "not a regular file"},
        UnreadableSidecar{"folder", [](const std::string &path) { fs::create_directory(path); }, "not a regular file"},
        UnreadableSidecar{"larger_than_16_MiB",
                          [](const std::string &path) {
                              writeWholeFile(path, "{");
                              fs::resize_file(path, (16 << 20) + 1);
                          },
                          "it holds more than 16777216 bytes"}));

std::vector<std::string> namesIn(const std::string &folder) {
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(StagedFileTest, TheTargetChangesOnlyAtCommit) {
    TempDir dir;
    writeWholeFile(dir.file("run.csv"), "earlier");
    {
        tool::OutputFile file(dir.file("run.csv"));
        file.write("new");
        file.flush();
        EXPECT_EQ(readWholeFile(dir.file("run.csv")), "earlier");
        EXPECT_EQ(namesIn(dir.path()).size(), 2u) << "the temporary file beside it";
        EXPECT_EQ(namesIn(dir.path())[0].rfind(".run.csv.", 0), 0u);
    }
    EXPECT_EQ(readWholeFile(dir.file("run.csv")), "earlier");
    EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"run.csv"});
    {
        tool::OutputFile file(dir.file("run.csv"));
        file.write("new");
        file.close();
        file.commit();
    }
    EXPECT_EQ(readWholeFile(dir.file("run.csv")), "new");
    EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"run.csv"});
}

// Written block by block, committed at the first: the target grows in place.
TEST(StagedFileTest, ACommittedFileGrowsUnderItsName) {
    TempDir dir;
    tool::OutputFile file(dir.file("run.csv"));
    file.write("header\n");
    file.flush();
    file.commit();
    file.write("line\n");
    file.flush();
    EXPECT_EQ(readWholeFile(dir.file("run.csv")), "header\nline\n");
    file.close();
    file.patch(0, "HEADER");
    EXPECT_EQ(readWholeFile(dir.file("run.csv")), "HEADER\nline\n");
    file.replaceContents("all");
    EXPECT_EQ(readWholeFile(dir.file("run.csv")), "all");
}

TEST(StagedFileTest, ALinkStaysALinkToTheReplacedFile) {
    TempDir dir;
    writeWholeFile(dir.file("real.csv"), "earlier");
    fs::create_symlink("real.csv", dir.file("link.csv"));
    tool::OutputFile file(dir.file("link.csv"));
    file.write("new");
    file.close();
    file.commit();
    EXPECT_TRUE(fs::is_symlink(dir.file("link.csv")));
    EXPECT_EQ(readWholeFile(dir.file("real.csv")), "new");
}

TEST(StagedFileTest, TargetsThatCannotBeReplacedFailAtOnce) {
    TempDir dir;
    fs::create_directories(dir.file("folder"));
    EXPECT_THROW(
        {
            try {
                tool::OutputFile file(dir.file("folder"));
            } catch (const tool::ToolError &error) {
                EXPECT_EQ(std::string(error.what()), "cannot create " + dir.file("folder") + ": Is a directory");
                throw;
            }
        },
        tool::ToolError);
    EXPECT_THROW(tool::OutputFile(dir.file("missing/run.csv")), tool::ToolError);
    if (geteuid() != 0) { // root may write whatever the mode says
        writeWholeFile(dir.file("locked.csv"), "earlier");
        fs::permissions(dir.file("locked.csv"), fs::perms::owner_read);
        EXPECT_THROW(tool::OutputFile(dir.file("locked.csv")), tool::ToolError);
    }
    const std::vector<std::string> left =
        geteuid() != 0 ? std::vector<std::string>{"folder", "locked.csv"} : std::vector<std::string>{"folder"};
    EXPECT_EQ(namesIn(dir.path()), left);
}

} // namespace
} // namespace kvd::testing
