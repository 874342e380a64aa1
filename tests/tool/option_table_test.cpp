// A command line parsed against an option table: the values, flags and
// positional words it yields in any order and spelling, the usage errors of
// a wrong line, and the help's lines made from the table.
#include <optional>

#include <gtest/gtest.h>

#include "common/errors.h"
#include "common/options.h"

namespace kvd::tool {
namespace {

using Words = std::vector<std::string>;

const OptionTable kTable = {
    {"",
     {{.name = "card", .letter = 'c', .value = "N", .help = "the card"},
      {.name = "virtual", .value = "IDS", .help = "virtual cards", .valueOptional = true},
      {.name = "continuous", .help = "until stopped"}}}};

struct Parse {
    Words words;
    std::optional<std::string> card;
    std::optional<std::string> virtualIds;
    bool continuous;
    Words positionals;
};

void PrintTo(const Parse &parse, std::ostream *out) { *out << ::testing::PrintToString(parse.words); }

class ToolArgumentsTest : public ::testing::TestWithParam<Parse> {};

TEST_P(ToolArgumentsTest, TakesEachOptionAndLeavesThePositionalWordsInOrder) {
    const Parse &expected = GetParam();
    Arguments arguments("test", kTable, expected.words);
    EXPECT_EQ(arguments.value("card"), expected.card);
    EXPECT_EQ(arguments.value("virtual"), expected.virtualIds);
    EXPECT_EQ(arguments.flag("continuous"), expected.continuous);
    Words positionals;
    while (const std::optional<std::string> word = arguments.positional())
        positionals.push_back(*word);
    EXPECT_EQ(positionals, expected.positionals);
    EXPECT_NO_THROW(arguments.expectAllTaken());
}

INSTANTIATE_TEST_SUITE_P(
    Spellings, ToolArgumentsTest,
    ::testing::Values(Parse{{"show", "--card", "1"}, "1", std::nullopt, false, {"show"}},
                      Parse{{"--card", "1", "show"}, "1", std::nullopt, false, {"show"}},
                      Parse{{"-c", "1", "show"}, "1", std::nullopt, false, {"show"}},
                      Parse{{"-c1", "show"}, "1", std::nullopt, false, {"show"}},
                      Parse{{"--card=1", "show"}, "1", std::nullopt, false, {"show"}},
                      // A value of one dash is a value: standard output, a negative number.
                      Parse{{"--card", "-", "-5"}, "-", std::nullopt, false, {"-5"}},
                      // A value that may be left out never takes the next word.
                      Parse{{"--virtual", "show"}, std::nullopt, "", false, {"show"}},
                      Parse{{"--virtual=7,9", "a", "--continuous", "b"}, std::nullopt, "7,9", true, {"a", "b"}}));

struct BadLine {
    Words words;
    std::string message;
    bool cardAsked = true; // false: the command has no use for --card here
};

void PrintTo(const BadLine &line, std::ostream *out) { *out << ::testing::PrintToString(line.words); }

class ToolArgumentsErrorTest : public ::testing::TestWithParam<BadLine> {};

// The line is parsed, every option asked for and the rest checked, as a
// command does.
TEST_P(ToolArgumentsErrorTest, FailsWithAUsageErrorSayingWhatIsWrong) {
    const BadLine &line = GetParam();
    try {
        Arguments arguments("test", kTable, line.words);
        if (line.cardAsked)
            arguments.value("card");
        arguments.value("virtual");
        arguments.flag("continuous");
        arguments.expectAllTaken();
        ADD_FAILURE() << "no usage error";
    } catch (const UsageError &error) {
        EXPECT_EQ(error.what(), line.message);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ToolArgumentsErrorTest,
    ::testing::Values(BadLine{{"-c"}, "--card needs a value"},
                      BadLine{{"-c", "--continuous"}, "--card needs a value"},
                      BadLine{{"--continuous=yes"}, "--continuous takes no value"},
                      BadLine{{"--virtual="}, "--virtual= needs a value after the ="},
                      BadLine{{"-c", "1", "--card", "2"}, "--card is given twice"},
                      BadLine{{"--crad=1"}, "unknown option --crad for test (did you mean --card?)"},
                      BadLine{{"show"}, "unexpected \"show\" for test"},
                      BadLine{{"--card", "1"}, "--card does not go with test as given here", false}));

TEST(ToolOptionHelpTest, SetsTheHelpBesideTheNamesAndListsTheRowsWithoutHelp) {
    const OptionTable table = {
        {"How:",
         {{.name = "rate", .letter = 'r', .value = "N", .help = "samples a second\nof all channels"},
          {.name = "scale", .value = "GAIN[,OFFSET][,UNIT]", .help = "value = code x GAIN:\n    FILE.csv  a list"}}},
        {"  --FIELD N              a field:", {{.name = "Gains"}, {.name = "gains"}}}};
    EXPECT_EQ(optionHelp(table), "How:\n"
                                 "  -r, --rate N           samples a second\n"
                                 "                         of all channels\n"
                                 "  --scale GAIN[,OFFSET][,UNIT]\n"
                                 "                         value = code x GAIN:\n"
                                 "    FILE.csv  a list\n"
                                 "  --FIELD N              a field:\n"
                                 "                         --Gains, --gains\n"
                                 "  -h, --help             this help\n");
    EXPECT_EQ(optionSpellings(table), "--rate -r --scale --Gains --gains --help -h");
}

} // namespace
} // namespace kvd::tool
