// tools/test-summary, the closing lines of `make test`, run over the output
// of a stand-in for make: ctest's skipped tests count as skipped, not as
// passed, as do pytest's.
#include <filesystem>

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "support/test_support.h"
#include "tool/tool_process.h"

namespace kvd::testing {
namespace {

// Prints the output a configuration's runners would for `make test-NAME`.
constexpr char kMake[] = R"sh(#!/bin/sh
case "$2" in
test-unit) printf '%s\n' \
    "Test project /build" \
    "97% tests passed, 1 tests failed out of 40" \
    "" \
    "Total Test time (real) =   3.00 sec" \
    "" \
    "The following tests did not run:" \
    "	 12 - ToolInstallTest.ManualPage (Skipped)" \
    "	 31 - UsbTest.Plugged (Skipped)" \
    "" \
    "The following tests FAILED:" \
    "	  7 - ToolStopTest.Quits (Failed)"
    exit 8 ;;
test-python) echo "======= 20 passed, 3 skipped in 1.20s =======" ;;
test-docs) echo "docs: 50 passed, 0 failed" ;;
test-windows) echo "*** SKIPPING the Windows tests: not installed: wine64" ;;
esac
)sh";

TEST(TestSummaryTest, SkippedTestsCountAsSkipped) {
    TempDir dir;
    const std::string make = dir.file("make");
    {
        std::FILE *file = std::fopen(make.c_str(), "w");
        std::fputs(kMake, file);
        std::fclose(file);
    }
    chmod(make.c_str(), 0755);
    const std::string summary =
        (std::filesystem::path(KVD4093_INCLUDE_DIR).parent_path() / "tools" / "test-summary").string();
    const ChildResult result = runChild(summary, {"unit", "python", "docs", "windows"}, dir.path(), {{"MAKE", make}});
    EXPECT_EQ(result.exitCode, 1) << result.err;
    const std::string out = result.out;
    EXPECT_NE(out.find("=== summary\n"
                       "unit: 37 passed, 1 failed, 2 skipped\n"
                       "python: 20 passed, 0 failed, 3 skipped\n"
                       "docs: 50 passed, 0 failed, 0 skipped\n"
                       "windows: skipped (the Windows tests: not installed: wine64)\n"
                       "107 passed, 1 failed, 5 skipped\n"),
              std::string::npos)
        << out;
}

} // namespace
} // namespace kvd::testing
