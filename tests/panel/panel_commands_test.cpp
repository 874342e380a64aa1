// The page's messages as the panel parses them: each type with its members,
// and every way a message can be wrong refused with its reason.
#include <string>

#include <gtest/gtest.h>

#include "panel/panel_commands.h"

namespace kvd::testing {
namespace {

using namespace tool::panel;

template <typename T> T parsed(const std::string &text) {
    const ParsedCommand result = parseCommand(text);
    EXPECT_TRUE(result.command.has_value()) << text << ": " << result.refusal;
    if (!result.command || !std::holds_alternative<T>(*result.command)) {
        ADD_FAILURE() << text << " is not the command expected";
        return T{};
    }
    return std::get<T>(*result.command);
}

TEST(PanelCommandsTest, EachTypeWithItsMembers) {
    EXPECT_EQ(parsed<command::SelectCard>(R"({"type":"select-card","card":31})").number, 31);
    EXPECT_EQ(parsed<command::SetDigitalOutputs>(R"({"type":"set-do","word":65535})").word, 0xFFFF);
    EXPECT_EQ(parsed<command::SetTriggerLevel>(R"({"type":"set-trigger","level":10000})").level, 10000);
    const auto rate = parsed<command::SetRate>(R"({"unit":"scans","rate":250000,"type":"set-rate"})");
    EXPECT_EQ(rate.rate, 250000);
    EXPECT_TRUE(rate.perScan);
    const auto da = parsed<command::WriteDa>(R"({"type":"write-da","channel":7,"value":4095})");
    EXPECT_EQ(da.channel, 7);
    EXPECT_EQ(da.value, 4095);
    EXPECT_EQ(da.setup, 0); // optional
    EXPECT_EQ(parsed<command::Settings>(R"({"type":"settings","action":"reset"})").action,
              command::Settings::Action::Reset);
    const auto record = parsed<command::Record>(R"({"type":"record","file":"a.csv","seconds":0.5})");
    EXPECT_EQ(record.file, "a.csv");
    EXPECT_EQ(record.seconds, 0.5);
    EXPECT_FALSE(parsed<command::Record>(R"({"type":"record","file":"a.bin"})").seconds.has_value());
    EXPECT_EQ(parsed<command::SetView>(R"({"type":"set-view","seconds":10})").seconds, 10.0);
    parsed<command::Start>(R"({"type":"start"})");
    parsed<command::Stop>(R"({"type":"stop"})");
    parsed<command::ListCards>(R"({"type":"list-cards"})");
    parsed<command::StopRecording>(R"({"type":"stop-recording"})");
}

TEST(PanelCommandsTest, ARecordChangeNamesFieldsOfTheRecordInAnyOrder) {
    const auto change =
        parsed<command::SetRecord>(R"({"type":"set-record","record":{"TrigWindow":-5,"FirstChannel":2}})");
    ADPara para{};
    for (const auto &[member, value] : change.fields)
        para.*member = value;
    EXPECT_EQ(para.FirstChannel, 2);
    EXPECT_EQ(para.TrigWindow, -5);
    EXPECT_EQ(change.fields.size(), 2u);
}

struct Refusal {
    const char *text;
    const char *reason;
};

void PrintTo(const Refusal &r, std::ostream *out) { *out << r.text; }

class PanelRefusalTest : public ::testing::TestWithParam<Refusal> {};

TEST_P(PanelRefusalTest, IsRefusedWithItsReason) {
    const ParsedCommand result = parseCommand(GetParam().text);
    EXPECT_FALSE(result.command.has_value());
    EXPECT_EQ(result.refusal, GetParam().reason);
}

INSTANTIATE_TEST_SUITE_P(
    Messages, PanelRefusalTest,
    ::testing::Values(
        Refusal{"", "the message is not JSON"}, Refusal{"{", "the message is not JSON"},
        Refusal{"\"start\"", "the message is not an object with a \"type\""},
        Refusal{R"({"type":1})", "the message is not an object with a \"type\""},
        Refusal{R"({"type":"reboot"})", "unknown message type \"reboot\""},
        Refusal{R"({"type":"start","force":1})", "unknown member \"force\""},
        Refusal{R"({"type":"select-card"})", "\"card\" is missing"},
        Refusal{R"({"type":"select-card","card":32})", "\"card\" must be 0 to 31"},
        Refusal{R"({"type":"select-card","card":true})", "\"card\" must be a whole number"},
        Refusal{R"({"type":"set-do","word":-1})", "\"word\" must be 0 to 65535"},
        Refusal{R"({"type":"set-do","word":1e3})", "\"word\" must be a whole number"},
        Refusal{R"({"type":"set-trigger","level":18446744073709551615})", "\"level\" must be 0 to 10000"},
        Refusal{R"({"type":"set-rate","rate":0,"unit":"samples"})", "\"rate\" must be 1 to 10000000"},
        Refusal{R"({"type":"set-rate","rate":5,"unit":"Hz"})", "\"unit\" must be samples or scans"},
        Refusal{R"({"type":"write-da","channel":0,"value":4096})", "\"value\" must be 0 to 4095"},
        Refusal{R"({"type":"write-da","channel":0,"value":1,"setup":8})", "\"setup\" must be 0 to 7"},
        Refusal{R"({"type":"settings","action":"format"})", "\"action\" must be load, save or reset"},
        Refusal{R"({"type":"set-record","record":[]})", "\"record\" must be an object"},
        Refusal{R"({"type":"set-record","record":{"Gain":1}})", "\"Gain\" is not a field of the AD record"},
        Refusal{R"({"type":"set-record","record":{"Gains":2147483648}})",
                "\"Gains\" must be -2147483648 to 2147483647"},
        Refusal{R"({"type":"record","file":7})", "\"file\" must be a text of at most 255 bytes"},
        Refusal{R"({"type":"record","file":"a.csv","seconds":0})", "\"seconds\" is out of range"},
        Refusal{R"({"type":"set-view","seconds":"1"})", "\"seconds\" must be a number"}));

TEST(PanelCommandsTest, AMessageLongerThan4KiBIsRefusedUnread) {
    const std::string padding(kMaxMessageBytes, ' ');
    const ParsedCommand result = parseCommand(R"({"type":"start"})" + padding);
    EXPECT_FALSE(result.command.has_value());
    EXPECT_EQ(result.refusal, "the message is longer than 4096 bytes");
}

} // namespace
} // namespace kvd::testing
