// A group of two emulated USB cards of one kvd4093-usb-sim, wired by its
// clock line: the tool's merged columns agree scan by scan, and the wiring
// check finds them aligned.
#include <regex>

#include <gtest/gtest.h>

#include "support/test_support.h"
#include "tool/tool_process.h"

namespace kvd::testing {
namespace {

#if defined(KVD4093_USB_SIM_PATH)

TEST(UsbGroupTest, TwoEmulatedCardsOnOneClockGiveAlignedColumns) {
    const TempDir dir;
    const ChildResult result =
        runToolOnEmulatedUsb(dir.path(), {"--ids", "7,9"},
                             {"acquire", "--id", "7,9", "--channels", "0-1", "--rate", "20k", "--samples", "6000",
                              "--output", "run.csv", "--check-sync", "0"},
                             {{"KVD4093_VIRTUAL_PACING", std::nullopt}});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.out.find("ID9: 0 scans: aligned\n"), std::string::npos) << result.out;
    const std::vector<std::string> lines = linesOf(readWholeFile(dir.file("run.csv")));
    ASSERT_EQ(lines.size(), 6001u);
    EXPECT_EQ(lines[0], "scan,time_s,ID7:ch0,ID7:ch1,ID9:ch0,ID9:ch1");
    const std::regex row("[0-9]+,[0-9.]+,([0-9]+),([0-9]+),([0-9]+),([0-9]+)");
    for (size_t i = 1; i < lines.size(); ++i) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(lines[i], match, row)) << lines[i];
        EXPECT_EQ(match[1].str() + "," + match[2].str(), match[3].str() + "," + match[4].str()) << lines[i];
    }
}

#endif

} // namespace
} // namespace kvd::testing
