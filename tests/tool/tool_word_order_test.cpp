// Options and positional words bind in any order: a command's options after
// it, before it (global options) or after its positional words give the
// same result, an option's value never being taken for a positional word.
#include <gtest/gtest.h>

#include "support/test_support.h"
#include "tool/tool_process.h"

namespace kvd::testing {
namespace {

using Args = std::vector<std::string>;

struct WordOrder {
    std::string command;
    Args positionals;
    Args options; // with values that a positional word could be taken for
    Args setup = {}; // a run before, which makes what the command reads
};

void PrintTo(const WordOrder &order, std::ostream *out) { *out << order.command << " " << order.positionals[0]; }

Args concatenated(std::initializer_list<Args> parts) {
    Args words;
    for (const Args &part : parts)
        words.insert(words.end(), part.begin(), part.end());
    return words;
}

class ToolWordOrderTest : public ::testing::TestWithParam<WordOrder> {
protected:
    TempDir dir_;
};

TEST_P(ToolWordOrderTest, OptionsAfterBeforeOrBehindTheCommandGiveTheSameResult) {
    const WordOrder &order = GetParam();
    if (!order.setup.empty()) {
        ASSERT_EQ(runTool(dir_.path(), order.setup).exitCode, 0);
    }
    const Args command = {order.command};
    const Args lines[] = {concatenated({command, order.options, order.positionals}),
                          concatenated({order.options, command, order.positionals}),
                          concatenated({command, order.positionals, order.options})};
    const ChildResult first = runTool(dir_.path(), lines[0]);
    EXPECT_EQ(first.exitCode, 0) << first.err;
    EXPECT_NE(first.out, "");
    for (const Args &line : {lines[1], lines[2]}) {
        const ChildResult result = runTool(dir_.path(), line);
        EXPECT_EQ(result.exitCode, 0) << ::testing::PrintToString(line) << "\n" << result.err;
        EXPECT_EQ(result.out, first.out) << ::testing::PrintToString(line);
    }
}

INSTANTIATE_TEST_SUITE_P(
    EveryCommandWithAPositionalWord, ToolWordOrderTest,
    ::testing::Values(WordOrder{"settings", {"show"}, {"--virtual=7,9", "--card", "1"}},
                      WordOrder{"settings", {"save"}, {"--virtual=7,9", "-c", "1", "--rate", "10k"}},
                      WordOrder{"settings", {"reset"}, {"--virtual=7,9", "-c1"}},
                      WordOrder{"do", {"0x00ff"}, {"--virtual=7,9", "--card", "1"}},
                      WordOrder{"trig", {"5000"}, {"--virtual=7,9", "--id", "9"}},
                      WordOrder{"log", {"KVD4093_CreateDeviceEx"}, {"--virtual=7", "--id", "4"}},
                      WordOrder{"convert",
                                {"run.bin", "-"},
                                {"--format", "csv", "--scale", "2"},
                                {"acquire", "--virtual", "-n", "5", "-o", "run.bin"}}));

} // namespace
} // namespace kvd::testing
