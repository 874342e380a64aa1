// The pieces of the tool's output formats on their own: --scale's numbers,
// the sidecar written and read back, the small JSON reader, and files that
// take their target's name only when committed.
#include <algorithm>
#include <cstring>
#include <filesystem>

#include <gtest/gtest.h>

#include "common/errors.h"
#include "output/json_reader.h"
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
                      GoodScale{"0.000000000000001,m/s²", 1, 0, 15, "m/s²", "0.000000000000001", "0"}));

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
    ::testing::Values(BadScale{"", "has no gain of at most 15 decimals"},
                      BadScale{"volts", "has no gain of at most 15 decimals"},
                      BadScale{"0,1", "has a gain of zero"},
                      BadScale{"1,2,V,x", "has more than three fields"},
                      BadScale{"1,x,V", "has no offset of at most 15 decimals"},
                      BadScale{"0.0000000000000001", "has no gain of at most 15 decimals"},
                      BadScale{"1,2,a\"b", "has a unit that is not printable text of at most 32 bytes without , \" or \\"},
                      BadScale{"1,2,tab\there", "has a unit that is not printable text of at most 32 bytes without , \" or \\"},
                      BadScale{"1e17,0", "gives values beyond 18 digits"},
                      BadScale{"1.2.3", "has no gain of at most 15 decimals"},
                      BadScale{"1e", "has no gain of at most 15 decimals"}));

TEST(JsonReaderTest, ReadsWhatTheSidecarHoldsAndRefusesBrokenText) {
    const tool::JsonValue value =
        tool::parseJson(" {\"a\": [1, -2.5e3, true, false, null], \"b\": {\"c\": \"x\\\"y\\\\z\\n\\u00b5\"}} ");
    ASSERT_EQ(value.kind, tool::JsonValue::Kind::Object);
    const tool::JsonValue *a = value.member("a");
    ASSERT_NE(a, nullptr);
    ASSERT_EQ(a->items.size(), 5u);
    EXPECT_EQ(a->items[1].text, "-2.5e3");
    EXPECT_TRUE(a->items[2].boolean);
    EXPECT_EQ(a->items[3].kind, tool::JsonValue::Kind::Boolean);
    EXPECT_FALSE(a->items[3].boolean);
    EXPECT_EQ(a->items[4].kind, tool::JsonValue::Kind::Null);
    EXPECT_EQ(value.member("b")->member("c")->text, "x\"y\\z\n\xc2\xb5");
    EXPECT_EQ(value.member("z"), nullptr);
    for (const char *broken : {"", "{", "{\"a\" 1}", "[1,]", "{\"a\": 1} x", "\"open", "[1 2]", "{\"a\": tru}",
                               "[\"\x01\"]", "[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[1]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]"})
        EXPECT_THROW(tool::parseJson(broken), std::runtime_error) << broken;
}

// Everything convert needs comes back from the text the sidecar holds: read
// back and written again, the text is the same, the rate exact to the bit.
TEST(SidecarTest, WhatIsWrittenReadsBack) {
    TempDir dir;
    tool::SidecarContents written;
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
    const tool::SidecarContents read = tool::readSidecar(dir.file("run.bin.json"));
    EXPECT_EQ(std::memcmp(&read.info.para, &info.para, sizeof info.para), 0);
    EXPECT_EQ(read.info.sampleRate, info.sampleRate) << "exactly";
    EXPECT_EQ(read.info.channelCount(), 4u);
    EXPECT_EQ(tool::sidecarText(read), tool::sidecarText(written));
}

TEST(SidecarTest, AMissingOrWrongFieldIsNamed) {
    TempDir dir;
    const std::string path = dir.file("run.bin.json");
    tool::SidecarContents contents;
    contents.info.para.LastChannel = 1;
    contents.info.sampleRate = 1000;
    const std::string good = tool::sidecarText(contents);
    const std::pair<std::string, std::string> cases[] = {
        {"\"rate_hz\": 1000,", "\"rate_hz\" is missing or not a number"},
        {"\"rate_hz\": 1000,|\"rate_hz\": 0,", "\"rate_hz\" is not above zero"},
        {"\"channels\": [0, 1],|\"channels\": [0],", "\"channels\" is not the channels of \"ad_para\""},
        {"\"scans\": 0,|\"scans\": -1,", "\"scans\" is not a whole number"},
        {"\"Frequency\": 0|\"Frequency\": 1.5", "\"Frequency\" is not a 32-bit whole number"},
        {"\"scale\": null|\"scale\": {\"gain\": 0, \"offset\": 0, \"unit\": \"\"}",
         "the scale 0, 0, \"\" is not one --scale takes"},
        {"{|[", "not JSON: no ']' at byte 12"},
    };
    for (const auto &[change, message] : cases) {
        const size_t bar = change.find('|');
        const std::string from = change.substr(0, bar);
        const std::string to = bar == std::string::npos ? "" : change.substr(bar + 1);
        std::string text = good;
        ASSERT_NE(text.find(from), std::string::npos) << from;
        text.replace(text.find(from), from.size(), to);
        writeWholeFile(path, text);
        try {
            tool::readSidecar(path);
            ADD_FAILURE() << "accepted: " << change;
        } catch (const tool::ToolError &error) {
            EXPECT_EQ(std::string(error.what()), path + ": " + message);
        }
    }
}

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
