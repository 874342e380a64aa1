// The lifecycle steps in this process, as the shared library's entry runs
// them: the exit hook's file, the LibraryApp made afresh after unload, and
// the settings root selected by the start-up hook.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "core/messages.h"
#include "core/library_app.h"
#include "host/lifecycle.h"
#include "platform/platform.h"
#include "support/config_home.h"
#include "support/test_support.h"

namespace kvd::testing {
namespace {

namespace fs = std::filesystem;

// Runs the test in a folder of its own, as the log file lands in the current one.
class LibraryAppTest : public ::testing::Test {
protected:
    LibraryAppTest() : before_(fs::current_path()) { fs::current_path(dir_.path()); }
    ~LibraryAppTest() override { fs::current_path(before_); }

    std::string log() const { return readWholeFile(dir_.file(text::kErrorLogFileName)); }

    TempDir dir_;
    fs::path before_;
};

TEST_F(LibraryAppTest, DetachWritesTheLogThenACallAfterItFindsAnEmptyApp) {
    theApp().logError(1, "KVD4093_Before", "before unload");
    host::processDetach();
    EXPECT_NE(log().find("[KVD4093_Before] before unload  1(Dec)\r\n"), std::string::npos) << log();

    // A late call (another library's exit code, say) gets a new, empty object.
    EXPECT_EQ(errorLogStrings(), 0u);
    EXPECT_EQ(KVD4093_CreateDevice(31), KVD4093_INVALID_HANDLE);
    EXPECT_EQ(entriesSince(0), std::vector<LogEntry>({{"KVD4093_CreateDevice", text::kNoDeviceDriver, "1(Dec)"}}));

    ASSERT_TRUE(host::processAttach());
    EXPECT_EQ(errorLogStrings(), 4u) << "attach keeps the object that exists";
    host::threadDetach();
    EXPECT_EQ(errorLogStrings(), 4u) << "a thread's end touches nothing";
    host::processDetach();
    EXPECT_EQ(log().find("KVD4093_Before"), std::string::npos) << "the file is replaced";
    EXPECT_NE(log().find("[KVD4093_CreateDevice] "), std::string::npos) << log();
}

TEST_F(LibraryAppTest, AttachSelectsTheSettingsRootOlm) {
    ConfigHome home;
    platform::setProfileRoot("Elsewhere", "Other");
    ASSERT_TRUE(host::processAttach());
    ASSERT_TRUE(platform::writeProfileInt("S", "V", 1));
#ifndef _WIN32
    EXPECT_TRUE(fs::exists(home.settingsFile()));
    EXPECT_FALSE(fs::exists(home.path() + "/Elsewhere"));
#endif
    // The value is found below Olm\KVD4093 and not below the root set before.
    platform::setProfileRoot("Elsewhere", "Other");
    EXPECT_EQ(platform::profileInt("S", "V", 0), 0);
    platform::setProfileRoot("Olm", "KVD4093");
    EXPECT_EQ(platform::profileInt("S", "V", 0), 1);
    platform::deleteProfileSection("S");
}

} // namespace
} // namespace kvd::testing
