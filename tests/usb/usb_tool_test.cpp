// The tool on the USB card backend, as a person runs it under kvd4093-usb-sim: the
// cards listed in plug order, an acquisition, the same trace as on virtual
// cards, and a card whose device file the user may not open.
#include <chrono>
#include <filesystem>
#include <regex>

#include <gtest/gtest.h>

#include "support/test_support.h"
#include "tool/tool_process.h"

namespace kvd::testing {
namespace {

#if defined(KVD4093_USB_SIM_PATH)

using Args = std::vector<std::string>;

// Cards paced by the clock, as a real card is.
const Environment kPaced = {{"KVD4093_VIRTUAL_PACING", std::nullopt}};

class UsbToolTest : public ::testing::Test {
protected:
    ChildResult onUsb(const Args &simulator, const Args &arguments, const Environment &environment = {}) {
        return runToolOnEmulatedUsb(dir_.path(), simulator, arguments, environment);
    }
    // A shell script under kvd4093-usb-sim; "$TOOL" is the tool.
    ChildResult scriptOnUsb(const Args &simulator, const std::string &script) {
        Args command = simulator;
        command.insert(command.end(), {"--", "sh", "-c", "TOOL=" KVD4093_TOOL_PATH "; " + script});
        Environment environment = toolEnvironment(dir_.path(), kPaced);
        return ChildProcess(KVD4093_USB_SIM_PATH, command, dir_.path(), environment).wait();
    }
    // The N of "card unplugged after N scans"; -1 when absent.
    static int64_t scansBeforeUnplug(const std::string &err) {
        std::smatch match;
        if (!std::regex_search(err, match, std::regex("kvd4093: card unplugged after ([0-9]+) scans\n")))
            return -1;
        return std::stoll(match[1]);
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

TEST_F(UsbToolTest, AcquisitionWritesTheSameCsvAsOnAVirtualCard) {
    const Args acquire = {"acquire", "--channels", "0-2", "--rate", "30k", "--samples", "7777", "--output", "x.csv"};
    const ChildResult onVirtual = runTool(dir_.path(), acquire, {{"KVD4093_VIRTUAL_CARDS", "7"}});
    ASSERT_EQ(onVirtual.exitCode, 0) << onVirtual.err;
    const std::string expected = readWholeFile(dir_.file("x.csv"));
    std::filesystem::remove(dir_.file("x.csv"));
    const ChildResult result = onUsb({"--ids", "7"}, acquire);
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(linesOf(expected).size(), 7778u);
    EXPECT_EQ(readWholeFile(dir_.file("x.csv")), expected);
}

TEST_F(UsbToolTest, ContinuousAcquisitionStopsAtAnUnplugKeepingEveryWholeBlock) {
    const ChildResult result = onUsb({"--ids", "7", "--unplug-after", "400ms"},
                                     {"acquire", "--continuous", "--channels", "0-3", "--rate", "10k", "--output",
                                      "u.csv"},
                                     kPaced);
    EXPECT_EQ(result.exitCode, 1) << result.err;
    const int64_t scans = scansBeforeUnplug(result.err);
    ASSERT_GT(scans, 0) << result.err;
    EXPECT_EQ(scans % 125, 0); // blocks of 50 ms: 125 scans of 4 channels at 10 kS/s
    const std::vector<std::string> lines = linesOf(readWholeFile(dir_.file("u.csv")));
    ASSERT_EQ(int64_t(lines.size()), scans + 1);
    EXPECT_EQ(lines.back().substr(0, std::to_string(scans - 1).size() + 1), std::to_string(scans - 1) + ",");
}

TEST_F(UsbToolTest, AReplugFailsTheAcquisitionAndTheCardIsFoundAgain) {
    const ChildResult result = scriptOnUsb(
        {"--ids", "7", "--replug-after", "400ms"},
        "\"$TOOL\" acquire --continuous --channels 0 --rate 10k --output r.csv; echo \"acquire: $?\"; "
        "until \"$TOOL\" list > l.txt; do sleep 0.05; done; cat l.txt");
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_GT(scansBeforeUnplug(result.err), 0) << result.err;
    EXPECT_NE(result.out.find("acquire: 1\nlogical  physical ID  version\n      0            7  1.0.1\n"),
              std::string::npos)
        << result.out;
}

TEST_F(UsbToolTest, UnplugEveryPullsTheCardOutAgainAfterEachReplug) {
    // Each acquisition ends at an unplug; the second can only end at a later one.
    const ChildResult result = scriptOnUsb(
        {"--ids", "7", "--unplug-every", "500ms", "--replug-after", "150ms"},
        "for run in 1 2; do \"$TOOL\" acquire --continuous --channels 0 --rate 10k --output r$run.csv > /dev/null; "
        "echo \"acquire: $?\"; until \"$TOOL\" list > /dev/null 2>&1; do sleep 0.05; done; done");
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "acquire: 1\nacquire: 1\n");
    const std::regex unplugged("card unplugged after [0-9]+ scans");
    EXPECT_EQ(std::distance(std::sregex_iterator(result.err.begin(), result.err.end(), unplugged),
                            std::sregex_iterator()),
              2)
        << result.err;
    EXPECT_GT(linesOf(readWholeFile(dir_.file("r1.csv"))).size(), 1u);
    EXPECT_GT(linesOf(readWholeFile(dir_.file("r2.csv"))).size(), 1u);
}

TEST_F(UsbToolTest, ReplugAsPutsACardWithAnotherPhysicalIdInThePort) {
    const ChildResult result = scriptOnUsb(
        {"--ids", "7", "--unplug-after", "300ms", "--replug-after", "500ms", "--replug-as", "9"},
        "\"$TOOL\" list; sleep 1; until \"$TOOL\" list > l.txt 2>/dev/null; do sleep 0.05; done; cat l.txt");
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "logical  physical ID  version\n"
                          "      0            7  1.0.1\n"
                          "logical  physical ID  version\n"
                          "      0            9  1.0.1\n");
}

TEST_F(UsbToolTest, AStalledPipeFailsItsFirstRequestAndWorksOnceTheHaltIsCleared) {
    // The physical ID's status read meets the halt; the backend clears it,
    // and the version's status read goes through.
    const ChildResult result = onUsb({"--ids", "7", "--stall", "3"}, {"list"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "logical  physical ID  version\n"
                          "      0            ?  1.0.1\n");
}

TEST_F(UsbToolTest, ASlowCardTakesLongerForTheSameSamples) {
    const auto start = std::chrono::steady_clock::now();
    const ChildResult result = onUsb({"--ids", "7", "--slow", "4"},
                                     {"acquire", "--channels", "0", "--rate", "10k", "--samples", "2000"}, kPaced);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(acquiredScans(result.out), 2000u);
    // 2512 samples with the set-up's: 0.25 s at 10 kS/s, four times that at a quarter of the rate.
    EXPECT_GE(took, std::chrono::milliseconds(900));
}

TEST_F(UsbToolTest, ACardThatAnswersNothingForAWhileIsListedAfterIt) {
    const auto start = std::chrono::steady_clock::now();
    const ChildResult result = onUsb({"--ids", "7", "--nak", "600ms"}, {"list"});
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "logical  physical ID  version\n"
                          "      0            7  1.0.1\n");
    EXPECT_GE(took, std::chrono::milliseconds(600));
}

TEST_F(UsbToolTest, ListNamesACardAnotherProgramHolds) {
    const ChildResult result = scriptOnUsb(
        {"--ids", "7,9"}, "\"$TOOL\" acquire --card 0 --continuous --channels 0 --rate 1k --output a.csv & "
                          "until [ -s a.csv ]; do sleep 0.02; done; \"$TOOL\" list; kill $!; wait; exit 0");
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.out.find("logical  physical ID  version\n"
                              "      1            9  1.0.1\n"
                              "USB device 1209:0001 on bus 1, port 1 (/dev/bus/usb/001/002): in use by another program.\n"),
              std::string::npos)
        << result.out;
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
