// The tool on the USB card backend, as a person runs it under kvd4093-usb-sim: the
// cards listed in plug order, an acquisition, the same trace as on virtual
// cards, and a card whose device file the user may not open.
#include <filesystem>

#include <gtest/gtest.h>

#include "support/test_support.h"
#include "tool/tool_process.h"

namespace kvd::testing {
namespace {

#if defined(KVD4093_USB_SIM_PATH)

using Args = std::vector<std::string>;

class UsbToolTest : public ::testing::Test {
protected:
    ChildResult onUsb(const Args &simulator, const Args &arguments, const Environment &environment = {}) {
        return runToolOnEmulatedUsb(dir_.path(), simulator, arguments, environment);
    }
    TempDir dir_;
};

TEST_F(UsbToolTest, ListShowsTheCardsInPlugOrderAsOnVirtualCards) {
    const ChildResult onVirtual = runTool(dir_.path(), {"list"}, {{"KVD4093_VIRTUAL_CARDS", "7,9,5"}});
    const ChildResult result = onUsb({"--ids", "7,9,5"}, {"list"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "logical  physical ID  version\n"
                          "      0            7  1.0.1\n"
                          "      1            9  1.0.1\n"
                          "      2            5  1.0.1\n");
    EXPECT_EQ(result.out, onVirtual.out);
}

TEST_F(UsbToolTest, AcquisitionWritesEveryScan) {
    const ChildResult result = onUsb({"--ids", "7,9,5"}, {"acquire", "--channels", "0-3", "--rate", "10k",
                                                          "--samples", "4000", "--output", "a.csv"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const std::vector<std::string> lines = linesOf(readWholeFile(dir_.file("a.csv")));
    ASSERT_EQ(lines.size(), 4001u);
    EXPECT_EQ(lines[0], "scan,time_s,ch0,ch1,ch2,ch3");
    EXPECT_EQ(lines[4000].substr(0, 5), "3999,");
}

TEST_F(UsbToolTest, TheSameProgramGivesTheSameTraceOnBothCardBackends) {
    const std::vector<Args> program = {
        {"list"},
        {"do", "0xa5c3", "--id", "9"},
        {"trig", "5000"},
        {"acquire", "--card", "1", "--channels", "0-1", "--rate", "10k", "--samples", "2000"},
    };
    std::string traces[2];
    for (int backend = 0; backend < 2; ++backend) {
        const std::string trace = dir_.file("trace" + std::to_string(backend));
        for (const Args &command : program) {
            const Environment environment = {{"KVD4093_TRACE", trace}};
            const ChildResult result =
                backend == 0 ? runTool(dir_.path(), command, {{"KVD4093_VIRTUAL_CARDS", "7,9"}, environment[0]})
                          : onUsb({"--ids", "7,9"}, command, environment);
            ASSERT_EQ(result.exitCode, 0) << command[0] << ": " << result.err;
        }
        traces[backend] = readWholeFile(trace);
    }
    EXPECT_GT(linesOf(traces[0]).size(), 40u);
    EXPECT_EQ(traces[1], traces[0]);
}

TEST_F(UsbToolTest, ACardTheUserMayNotOpenIsNamedWithTheRuleToInstall) {
    const ChildResult result = onUsb({"--ids", "7,9", "--deny", "0"}, {"list"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "logical  physical ID  version\n"
                          "      1            9  1.0.1\n"
                          "USB device 1209:0001 on bus 1, port 1 (/dev/bus/usb/001/002): permission denied.\n"
                          "Install the udev rule 70-kvd4093.rules (cmake --install puts it in lib/udev/rules.d/),\n"
                          "reload the rules with \"udevadm control --reload\" and plug the card in again.\n");
}

TEST_F(UsbToolTest, NoCardThatOpensExitsOne) {
    const ChildResult result = onUsb({"--ids", "7", "--deny", "0"}, {"list"});
    EXPECT_EQ(result.exitCode, 1) << result.err;
    EXPECT_EQ(linesOf(result.out).at(0), "No KVD4093 card found.");
    EXPECT_NE(result.out.find("/dev/bus/usb/001/002): permission denied."), std::string::npos) << result.out;
}

#endif

TEST(UsbToolListTest, NoMatchingDeviceNamesThePairsLookedForAndExitsOne) {
    TempDir dir;
    const ChildResult result = runTool(dir.path(), {"list"}, {{"KVD4093_USB_IDS", "1209:0001,04b4:8613"}});
    EXPECT_EQ(result.exitCode, 1) << result.err;
    EXPECT_EQ(result.out, "No KVD4093 card found.\n"
                          "No USB device 1209:0001,04b4:8613 is present (looked for the pairs of KVD4093_USB_IDS). "
                          "Set KVD4093_USB_IDS to the card's vendor:product pair as lsusb shows it.\n");
}

} // namespace
} // namespace kvd::testing
