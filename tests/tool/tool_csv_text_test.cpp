// The CSV writer's text is byte for byte what std::to_chars and string
// appends made: the scan number, the time (fixed, 7 decimals) and the codes,
// for awkward times too: exact ties in binary, values a hair from a tie,
// fractional rates, times too large for the fast path.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "../../tools/kvd4093/output/csv_text.h"
#include "support/test_support.h"

namespace kvd::testing {
namespace {

namespace csv = tool::csv;

// The text as the writer made it before: std::to_chars into string appends.
std::string referenceSeconds(double seconds) {
    char digits[400];
    return std::string(digits, std::to_chars(digits, digits + sizeof digits, seconds, std::chars_format::fixed,
                                             csv::kTimeDecimals)
                                   .ptr);
}

std::string referenceLines(const std::vector<uint16_t> &samples, uint64_t firstScan, size_t scans, uint32_t channels,
                           double scanRate) {
    std::string text;
    for (size_t scan = 0; scan < scans; ++scan) {
        const uint64_t number = firstScan + scan;
        text += std::to_string(number) + "," + referenceSeconds(double(number) / scanRate);
        for (uint32_t channel = 0; channel < channels; ++channel) {
            const auto *bytes = reinterpret_cast<const uint8_t *>(&samples[scan * channels + channel]);
            text += "," + std::to_string(bytes[0] | bytes[1] << 8);
        }
        text += "\n";
    }
    return text;
}

std::string seconds(double value) {
    char text[400];
    return std::string(text, csv::putSeconds(text, value));
}

std::string unsignedText(uint64_t value) {
    char text[32];
    return std::string(text, csv::putUnsigned(text, value));
}

struct TimeCase {
    uint64_t scan;
    double scanRate;
    const char *expected;
};

TEST(CsvTextTest, TimesAreTheFixedSevenDecimalsOfTheExactQuotient) {
    const TimeCase cases[] = {
        {0, 25000, "0.0000000"},
        {1, 25000, "0.0000400"},
        {1, 3, "0.3333333"},
        {2, 3, "0.6666667"},
        // 1/256 = 0.00390625 exactly: a tie at the eighth decimal, to even.
        {1, 256, "0.0039062"},
        {3, 256, "0.0117188"},
        {5, 256, "0.0195312"},
        // 1/(2 x 10^7) is a hair below 0.00000005 as a double, 11/(2 x 10^7) a hair above 0.00000055.
        {1, 20000000, "0.0000000"},
        {11, 20000000, "0.0000006"},
        {12345675, 100000000, "0.1234568"},
        {1, 30030.03003003003, "0.0000333"},
        {3, 0.5, "6.0000000"},
        {(uint64_t(1) << 40) - 1, 2500000, "439804.6511100"},
        // Beyond 9e8 s the general path takes over.
        {uint64_t(1) << 53, 1, "9007199254740992.0000000"},
        {1000000000000, 1, "1000000000000.0000000"},
    };
    for (const TimeCase &c : cases) {
        const double value = double(c.scan) / c.scanRate;
        EXPECT_EQ(referenceSeconds(value), c.expected) << c.scan << " / " << c.scanRate;
        EXPECT_EQ(seconds(value), c.expected) << c.scan << " / " << c.scanRate;
    }
}

TEST(CsvTextTest, TimesMatchToCharsOverManyScansAndRates) {
    const double rates[] = {1, 0.5, 3, 7, 256, 1000, 3333.3333333333335, 12500, 30030.03003003003,
                            10000000.0 / 333 / 3, 2500000, 3333333.3333333335, 10000000};
    std::mt19937_64 random(4093);
    for (const double rate : rates) {
        for (uint64_t scan = 0; scan < 20000; ++scan)
            ASSERT_EQ(seconds(double(scan) / rate), referenceSeconds(double(scan) / rate)) << scan << " / " << rate;
        for (int draw = 0; draw < 20000; ++draw) {
            const uint64_t scan = random() >> (random() % 64);
            ASSERT_EQ(seconds(double(scan) / rate), referenceSeconds(double(scan) / rate)) << scan << " / " << rate;
        }
    }
}

// Values straddling the ties of the seventh decimal, one ulp at a time.
TEST(CsvTextTest, TimesNextToTiesMatchToChars) {
    for (uint64_t ticks : {0ull, 1ull, 39062ull, 1234567ull, 99999999ull, 8999999999999ull}) {
        double value = (double(ticks) + 0.5) / 1e7;
        for (int step = 0; step < 8; ++step)
            value = std::nextafter(value, 0.0);
        for (int step = 0; step < 16; ++step, value = std::nextafter(value, 1e300))
            ASSERT_EQ(seconds(value), referenceSeconds(value)) << ticks;
    }
}

TEST(CsvTextTest, WholeNumbersAreTheirDecimalDigits) {
    for (uint64_t value : {0ull, 9ull, 10ull, 99ull, 100ull, 999ull, 1000ull, 9999ull, 10000ull, 65535ull,
                           1234567890ull, 18446744073709551615ull})
        EXPECT_EQ(unsignedText(value), std::to_string(value));
    for (uint64_t value = 1; value < 1000000000000000000ull; value *= 10) {
        EXPECT_EQ(unsignedText(value - 1), std::to_string(value - 1));
        EXPECT_EQ(unsignedText(value), std::to_string(value));
    }
}

// Whole blocks: scan numbers crossing powers of ten, every code width, the
// codes read least significant byte first.
TEST(CsvTextTest, BlocksAreTheLinesToCharsMade) {
    struct Block {
        uint64_t firstScan;
        uint32_t channels;
        double scanRate;
    };
    for (const Block &block : {Block{0, 4, 25000}, Block{95, 1, 10000}, Block{999990, 3, 10000000.0 / 333 / 3},
                               Block{(uint64_t(1) << 40) - 7, 8, 125000}, Block{0, 256, 39062.5}}) {
        const size_t scans = 40;
        std::vector<uint16_t> samples(scans * block.channels);
        for (size_t i = 0; i < samples.size(); ++i) {
            const uint16_t code = static_cast<uint16_t>(i * 7919 % 65536 / (1 + i % 5 * 97));
            auto *bytes = reinterpret_cast<uint8_t *>(&samples[i]);
            bytes[0] = uint8_t(code);
            bytes[1] = uint8_t(code >> 8);
        }
        std::vector<char> text(scans * csv::lineBound(block.firstScan + scans - 1, block.scanRate, block.channels, 5));
        const char *end = csv::putScans(text.data(), samples.data(), block.firstScan, scans, block.channels,
                                        block.scanRate);
        EXPECT_EQ(std::string(static_cast<const char *>(text.data()), end),
                  referenceLines(samples, block.firstScan, scans, block.channels, block.scanRate))
            << "first scan " << block.firstScan;
    }
}

// The longest line of every block: scan numbers and times of every width,
// the widest codes. The buffer for a block is its scans times lineBound,
// which is never below a line and at most a sign and a digit above the
// longest one (it was 346 bytes for 20 of one channel).
TEST(CsvTextTest, LineBoundIsTightAboveTheLongestLine) {
    struct Block {
        uint64_t firstScan;
        uint32_t channels;
        double scanRate;
    };
    for (const Block &block : {Block{0, 1, 10000000}, Block{9990, 1, 10000}, Block{999995, 4, 25000},
                               Block{(uint64_t(1) << 40) - 10, 8, 125000}, Block{123456789, 3, 0.5},
                               Block{0, 256, 39062.5}, Block{99999999, 2, 1}}) {
        const size_t scans = 10;
        const uint64_t lastScan = block.firstScan + scans - 1;
        std::vector<uint16_t> samples(scans * block.channels, 65535);
        const size_t bound = csv::lineBound(lastScan, block.scanRate, block.channels, 5);
        std::vector<char> text(scans * bound);
        const char *end =
            csv::putScans(text.data(), samples.data(), block.firstScan, scans, block.channels, block.scanRate);
        size_t longest = 0;
        for (const std::string &line : linesOf(std::string(static_cast<const char *>(text.data()), end)))
            longest = std::max(longest, line.size() + 1); // and its newline
        EXPECT_GE(bound, longest) << "last scan " << lastScan;
        EXPECT_LE(bound, longest + 2) << "last scan " << lastScan;
    }
    // "1000000,100.0000000,65535\n"
    EXPECT_EQ(csv::lineBound(1000000, 10000, 1, 5), 26u);
}

// Values on a scale: code x gain + offset exactly, to the scale's decimals,
// as std::to_chars gives the same number (exact in binary at these sizes).
TEST(CsvTextTest, ScaledValuesAreExactDecimals) {
    for (const char *text : {"0.000305175781,-10,V", "2.5,mV", "-0.001,32.768", "3", "0.5,-16383.75"}) {
        const tool::Scale scale = tool::parseScale(text);
        std::vector<uint16_t> samples;
        for (uint32_t code : {0u, 1u, 2u, 9u, 10u, 32767u, 32768u, 32769u, 65534u, 65535u})
            samples.push_back(uint16_t(code));
        std::vector<char> out(samples.size() * csv::lineBound(samples.size(), 1000, 1, csv::valueChars(scale)));
        const char *end = csv::putScaledScans(out.data(), samples.data(), 0, samples.size(), 1, 1000, scale);
        const std::vector<std::string> lines = linesOf(std::string(static_cast<const char *>(out.data()), end));
        ASSERT_EQ(lines.size(), samples.size());
        size_t longest = 0;
        for (size_t i = 0; i < samples.size(); ++i) {
            const std::string value = lines[i].substr(lines[i].rfind(',') + 1);
            char expected[64];
            const long double exact = (long double)(samples[i]) * scale.gainUnits + scale.offsetUnits;
            const char *expectedEnd = std::to_chars(expected, expected + sizeof expected,
                                                    double(exact / std::pow(10.0L, scale.decimals)),
                                                    std::chars_format::fixed, scale.decimals)
                                          .ptr;
            EXPECT_EQ(value, std::string(static_cast<const char *>(expected), expectedEnd)) << text << " code " << samples[i];
            longest = std::max(longest, value.size());
        }
        EXPECT_LE(csv::valueChars(scale), longest + 1) << text;
        EXPECT_GE(csv::valueChars(scale), longest) << text;
    }
}

} // namespace
} // namespace kvd::testing
