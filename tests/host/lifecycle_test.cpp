// The library's life in a process, seen from child processes that load
// libkvd4093.so with dlopen or are linked with it: the log file at unload
// and at exit, a thread that ends, the settings root, a second load.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/child_process.h"
#include "support/test_support.h"

namespace kvd::testing {
namespace {

namespace fs = std::filesystem;

constexpr char kDlopenChild[] = KVD4093_LIFECYCLE_DLOPEN_CHILD;
constexpr char kLinkedChild[] = KVD4093_LIFECYCLE_LINKED_CHILD;

// One line of the log file for the failing call the child makes.
const std::regex kFailedCallLine(R"(\d{4}/\d\d/[ \d]\d \d\d:\d\d:\d\d:\d{3}   )"
                                 R"(\[KVD4093_CreateDevice\] Sorry, there are no device drivers found in your system)"
                                 R"(  1\(Dec\)\r\n)");

class LifecycleTest : public ::testing::Test {
protected:
    // Runs a child in the test's folder, with its settings in the folder
    // too and no inherited KVD4093_ variable: no virtual card unless asked.
    ChildResult run(const char *program, const std::vector<std::string> &steps, const char *virtualCards = nullptr) {
        Environment environment = withoutInherited("KVD4093_");
        environment.emplace_back("XDG_CONFIG_HOME", dir_.file("config"));
        if (virtualCards)
            environment.emplace_back("KVD4093_VIRTUAL_CARDS", virtualCards);
        return runChild(program, steps, dir_.path(), environment);
    }
    // For a child whose other threads still run when it exits: the leak
    // check that AddressSanitizer runs at exit stops every thread by tracing
    // it, and a thread running on through exit() can crash that tracer.
    Environment busyEnvironment() const {
        Environment environment = withoutInherited("KVD4093_");
        environment.emplace_back("XDG_CONFIG_HOME", dir_.file("config"));
        environment.emplace_back("ASAN_OPTIONS", "detect_leaks=0");
        return environment;
    }
    std::string log() const { return readWholeFile(dir_.file("KVD4093Err.log")); }
    bool logExists() const { return fs::exists(dir_.file("KVD4093Err.log")); }

    TempDir dir_;
};

TEST_F(LifecycleTest, LoadAndUnloadWithNoCallLeavesAnEmptyLogWrittenAtTheUnload) {
    const ChildResult child = run(kDlopenChild, {"log?", "load", "log?", "unload", "log?"});
    EXPECT_EQ(child.exitCode, 0) << child.err;
    EXPECT_EQ(child.out, "absent\nabsent\npresent\n");
    EXPECT_TRUE(logExists());
    EXPECT_EQ(log(), "");
}

TEST_F(LifecycleTest, AFailingCallBeforeTheUnloadLeavesItsLine) {
    const ChildResult child = run(kDlopenChild, {"load", "fail", "unload"});
    EXPECT_EQ(child.exitCode, 0) << child.err;
    EXPECT_TRUE(std::regex_match(log(), kFailedCallLine)) << log();
}

TEST_F(LifecycleTest, AnOlderReadOnlyLogIsReplaced) {
    std::ofstream(dir_.file("KVD4093Err.log"), std::ios::binary) << "an entry of an older run\r\n";
    fs::permissions(dir_.file("KVD4093Err.log"), fs::perms::owner_read | fs::perms::group_read);
    const ChildResult child = run(kDlopenChild, {"load", "unload"});
    EXPECT_EQ(child.exitCode, 0) << child.err;
    EXPECT_EQ(log(), "");
}

TEST_F(LifecycleTest, NormalExitWithoutUnloadWritesTheLog) {
    struct Case {
        const char *what;
        const char *program;
        std::vector<std::string> steps;
        bool failedCall;
    };
    const Case cases[] = {
        {"dlopen, no dlclose, a failed call", kDlopenChild, {"load", "fail"}, true},
        {"dlopen, no dlclose, no call", kDlopenChild, {"load"}, false},
        {"linked, a failed call", kLinkedChild, {"log?", "fail"}, true},
        {"linked, no call", kLinkedChild, {"log?"}, false},
    };
    for (const Case &c : cases) {
        fs::remove(dir_.file("KVD4093Err.log"));
        const ChildResult child = run(c.program, c.steps);
        EXPECT_EQ(child.exitCode, 0) << c.what << ": " << child.err;
        EXPECT_EQ(child.out.find("present"), std::string::npos) << c.what << ": nothing written before the exit";
        ASSERT_TRUE(logExists()) << c.what;
        if (c.failedCall)
            EXPECT_TRUE(std::regex_match(log(), kFailedCallLine)) << c.what << ": " << log();
        else
            EXPECT_EQ(log(), "") << c.what;
    }
}

#ifndef _WIN32
// main returns while eight threads keep calling exports that fail and log:
// the exit writes the log while they run on (on POSIX they run through
// exit(); Windows ends them first), and nothing they use goes away.
TEST_F(LifecycleTest, ExitWhileOtherThreadsCallTheLibrary) {
    for (int run = 0; run < 20; ++run) {
        for (const char *program : {kDlopenChild, kLinkedChild}) {
            const ChildResult child = runChild(program, {"load", "busy"}, dir_.path(), busyEnvironment());
            ASSERT_EQ(child.exitCode, 0) << program << " run " << run << ": " << child.err;
            ASSERT_TRUE(logExists()) << program << " run " << run;
        }
    }
}
#endif

TEST_F(LifecycleTest, AThreadThatCallsExportsAndEndsLeavesTheLogAndOpenCardsAsTheyWere) {
    // The library stays loaded until exit: its device records and virtual
    // cards live in objects it never frees, which a dlclose would strand
    // (and LeakSanitizer would report). Unloading is shown without cards above.
    for (const char *program : {kDlopenChild, kLinkedChild}) {
        fs::remove(dir_.file("KVD4093Err.log"));
        const ChildResult child = run(program, {"load", "thread", "check", "release"}, "7");
        EXPECT_EQ(child.exitCode, 0) << program << ": " << child.err;
        EXPECT_EQ(child.out, "id 1 0 7\n"
                                "last Sorry, there are no device drivers found in your system[KVD4093_CreateDevice]\n"
                                "released 1\n")
            << program;
        EXPECT_TRUE(std::regex_match(log(), kFailedCallLine)) << program << ": " << log();
    }
}

TEST_F(LifecycleTest, AfterTheLoadSettingsLandBelowOlm) {
    const ChildResult child = run(kDlopenChild, {"load", "save", "unload"});
    EXPECT_EQ(child.exitCode, 0) << child.err;
    EXPECT_EQ(child.out, "saved 1\n");
#ifdef _WIN32
    // The child stored into this process's stand-in for the user's registry key.
    platform::setProfileRoot("Olm", "KVD4093");
    EXPECT_EQ(platform::profileInt("Device-0\\Others", "Lifecycle", 0), 42);
    platform::deleteProfileSection("Device-0\\Others");
#else
    EXPECT_EQ(readWholeFile(dir_.file("config/Olm/KVD4093.reg")),
              "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Olm\\KVD4093]\r\n\r\n"
              "[HKEY_CURRENT_USER\\Software\\Olm\\KVD4093\\Device-0]\r\n\r\n"
              "[HKEY_CURRENT_USER\\Software\\Olm\\KVD4093\\Device-0\\Others]\r\n"
              "\"Lifecycle\"=dword:0000002a\r\n\r\n");
#endif
}

TEST_F(LifecycleTest, ALoadAfterAnUnloadStartsWithAnEmptyLog) {
    const ChildResult child = run(kDlopenChild, {"load", "fail", "unload", "load", "log?", "unload"});
    EXPECT_EQ(child.exitCode, 0) << child.err;
    EXPECT_EQ(child.out, "present\n");
    EXPECT_EQ(log(), "") << "the second unload writes the second, empty log";
}

} // namespace
} // namespace kvd::testing
