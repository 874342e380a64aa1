// Two emulated USB cards of one kvd4093-usb-sim wired on one clock line, as
// two tools would use them: the card taking the clock is started first and
// waits for ticks, then the card putting its clock out; scan k of one is scan
// k of the other, so both files hold the same waveforms row for row.
#include <gtest/gtest.h>

#include "support/test_support.h"
#include "tool/format_readers.h"
#include "tool/tool_process.h"

namespace kvd::testing {
namespace {

#if defined(KVD4093_USB_SIM_PATH)

TEST(UsbSimClockLine, ACardOnTheReceivedClockGetsEveryScanOfTheCardDrivingIt) {
    TempDir dir;
    const std::string acquire = "acquire --channels 0-2 --rate 30k --samples 3000 --output ";
    const std::string script =
        "KVD4093_TRACE=taker.trace \"$TOOL\" --id 9 " + acquire + "taker.csv --ClockSource 1 & taker=$!; "
        "tries=0; until grep -q '" + std::string(kTracedAdStart) + "' taker.trace 2>/dev/null; do "
        "  tries=$((tries + 1)); [ $tries -lt 500 ] || { kill $taker; exit 3; }; sleep 0.02; done; "
        "\"$TOOL\" --id 7 " + acquire + "driver.csv --bClockOutput 1; echo \"driver: $?\"; "
        "wait $taker; echo \"taker: $?\"";
    const std::vector<std::string> command = {"--ids", "7,9", "--", "sh", "-c", "TOOL=" KVD4093_TOOL_PATH "; " + script};
    const Environment paced = {{"KVD4093_VIRTUAL_PACING", std::nullopt}};
    const ChildResult result =
        ChildProcess(KVD4093_USB_SIM_PATH, command, dir.path(), toolEnvironment(dir.path(), paced)).wait();
    ASSERT_EQ(result.exitCode, 0) << result.err;
    // The taker's summary may come between the two lines: it ends after the driver.
    for (const char *exit : {"driver: 0\n", "taker: 0\n"})
        EXPECT_NE(result.out.find(exit), std::string::npos) << exit << result.out << result.err;
    const std::vector<std::string> driven = csvValueRows(dir.file("driver.csv"));
    EXPECT_EQ(driven.size(), 3000u);
    EXPECT_EQ(csvValueRows(dir.file("taker.csv")), driven);
}

#endif

} // namespace
} // namespace kvd::testing
