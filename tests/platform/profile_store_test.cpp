// The per-user profile on POSIX: where its file lives, what a change leaves
// there, the defaults, broken files, and writers in several threads.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "support/config_home.h"
#include "support/scoped_variable.h"

namespace kvd::testing {
namespace {

namespace fs = std::filesystem;

TEST(ProfileStoreTest, AChangeLandsInTheRegFileOfTheRootWithItsLockBesideIt) {
    ConfigHome home;
    ASSERT_TRUE(platform::writeProfileInt("Device-0", "DevicePhysID", -2));
    ASSERT_TRUE(platform::writeProfileString("", "CardType", "KVD4093"));
    EXPECT_EQ(readWholeFile(home.settingsFile()), "REGEDIT4\r\n\r\n"
                                                  "[HKEY_CURRENT_USER\\Software\\Olm\\KVD4093]\r\n"
                                                  "\"CardType\"=\"KVD4093\"\r\n\r\n"
                                                  "[HKEY_CURRENT_USER\\Software\\Olm\\KVD4093\\Device-0]\r\n"
                                                  "\"DevicePhysID\"=dword:fffffffe\r\n\r\n");
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(home.path() + "/Olm"))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"KVD4093.reg", "KVD4093.reg.lock"})) << "no temporary file left";
}

TEST(ProfileStoreTest, ReadsGiveTheStoredValueOrTheDefault) {
    ConfigHome home;
    EXPECT_EQ(platform::profileInt("Device-0", "Missing", 17), 17) << "no file yet";
    EXPECT_EQ(platform::profileString("", "AppPath", "C:\\OLM"), "C:\\OLM");
    EXPECT_FALSE(fs::exists(home.settingsFile())) << "a read makes no file";
    ASSERT_TRUE(platform::writeProfileInt("S", "Int", INT32_MIN));
    ASSERT_TRUE(platform::writeProfileString("S", "Text", "\xca\xfd%d\\\""));
    EXPECT_EQ(platform::profileInt("S", "Int", 0), INT32_MIN);
    EXPECT_EQ(platform::profileString("S", "Text", ""), "\xca\xfd%d\\\"");
    EXPECT_EQ(platform::profileInt("s", "INT", 0), INT32_MIN) << "names in any case";
    EXPECT_EQ(platform::profileInt("S", "Missing", -5), -5);
    EXPECT_EQ(platform::profileInt("Other", "Int", -5), -5);
    EXPECT_EQ(platform::profileInt("S", "Text", -5), -5) << "a text is not an integer";
    EXPECT_EQ(platform::profileString("S", "Int", "default"), "default") << "an integer is not a text";
    EXPECT_EQ(platform::profileString("S", "Missing", nullptr), "");
    EXPECT_EQ(platform::profileInt(nullptr, "Int", 3), 3);
    EXPECT_EQ(platform::profileInt("S", nullptr, 3), 3);
    const std::string before = readWholeFile(home.settingsFile());
    EXPECT_FALSE(platform::writeProfileString("S", "Text", nullptr));
    EXPECT_FALSE(platform::writeProfileInt("S", "Two\nLines", 1));
    EXPECT_TRUE(platform::deleteProfileSection("Never-There"));
    EXPECT_EQ(readWholeFile(home.settingsFile()), before) << "failed writes change nothing";
}

TEST(ProfileStoreTest, ABatchLandsInOrderUpToTheFirstWriteThatFails) {
    ConfigHome home;
    const platform::ProfileWrite writes[] = {
        {"S", "Text", 0, "t"},
        {"S", "First", 1, nullptr},
        {"S\\", "Refused", 2, nullptr}, // an empty sub-key name
        {"S", "Never", 3, nullptr},
    };
    EXPECT_EQ(platform::writeProfileValues(writes, 4), 2u);
    EXPECT_EQ(home.settingsText(), "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Olm\\KVD4093]\n\n"
                                   "[HKEY_CURRENT_USER\\Software\\Olm\\KVD4093\\S]\n"
                                   "\"Text\"=\"t\"\n\"First\"=dword:00000001\n\n");
    EXPECT_EQ(platform::writeProfileValues(writes + 2, 2), 0u);
    EXPECT_EQ(platform::writeProfileValues(writes, 0), 0u);
    EXPECT_EQ(platform::writeProfileValues(nullptr, 2), 0u);
    EXPECT_EQ(platform::profileInt("S", "Never", -1), -1);

    writeWholeFile(home.settingsFile(), "broken\r\n");
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(platform::writeProfileValues(writes, 2), 0u);
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("line 1: the file does not start with REGEDIT4"),
              std::string::npos);
    EXPECT_EQ(readWholeFile(home.settingsFile()), "broken\r\n");
}

TEST(ProfileStoreTest, TheFolderFollowsTheVariableAtEveryUseAndFallsBackToHome) {
    ConfigHome first;
    ASSERT_TRUE(platform::writeProfileInt("S", "V", 1));
    {
        ConfigHome second;
        EXPECT_EQ(platform::profileInt("S", "V", 0), 0) << "a new folder, a new file";
        ASSERT_TRUE(platform::writeProfileInt("S", "V", 2));
        EXPECT_TRUE(fs::exists(second.settingsFile()));
    }
    EXPECT_EQ(platform::profileInt("S", "V", 0), 1);

    TempDir home;
    ScopedVariable homeVariable("HOME", home.path().c_str());
    for (const char *config : {static_cast<const char *>(nullptr), "", "relative/folder"}) {
        ScopedVariable configVariable("XDG_CONFIG_HOME", config);
        ASSERT_TRUE(platform::writeProfileInt("S", "V", 3)) << (config ? config : "(unset)");
        EXPECT_EQ(platform::profileInt("S", "V", 0), 3);
    }
    EXPECT_TRUE(fs::exists(home.file(".config/Olm/KVD4093.reg")));
    EXPECT_FALSE(fs::exists("relative"));

    ScopedVariable noConfig("XDG_CONFIG_HOME", nullptr);
    ScopedVariable noHome("HOME", nullptr);
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(platform::writeProfileInt("S", "V", 4)) << "no folder to keep settings in";
    EXPECT_EQ(platform::profileInt("S", "V", -1), -1);
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("neither XDG_CONFIG_HOME nor HOME"), std::string::npos);
}

TEST(ProfileStoreTest, TheRootNamesTheFolderTheFileAndTheKeys) {
    ConfigHome home;
    platform::setProfileRoot("Acme", "Tool");
    const bool written = platform::writeProfileInt("S", "V", 1);
    platform::setProfileRoot("Olm", "KVD4093");
    ASSERT_TRUE(written);
    EXPECT_EQ(withoutCarriageReturns(readWholeFile(home.path() + "/Acme/Tool.reg")),
              "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Acme\\Tool]\n\n"
              "[HKEY_CURRENT_USER\\Software\\Acme\\Tool\\S]\n\"V\"=dword:00000001\n\n");
    EXPECT_FALSE(fs::exists(home.settingsFile()));
}

// KVD4093_SETTINGS names the file itself, wherever the config folder is;
// its folder is made as needed and the lock lies beside it.
TEST(ProfileStoreTest, ANamedStoreTakesEveryReadAndWriteWhileItIsSet) {
    ConfigHome home;
    TempDir elsewhere;
    const std::string named = elsewhere.file("bench/settings.reg");
    {
        ScopedVariable store("KVD4093_SETTINGS", named.c_str());
        ASSERT_TRUE(platform::writeProfileInt("S", "V", 7));
        EXPECT_EQ(platform::profileInt("S", "V", 0), 7);
    }
    EXPECT_EQ(withoutCarriageReturns(readWholeFile(named)),
              "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Olm\\KVD4093]\n\n"
              "[HKEY_CURRENT_USER\\Software\\Olm\\KVD4093\\S]\n\"V\"=dword:00000007\n\n");
    EXPECT_TRUE(fs::exists(named + ".lock"));
    EXPECT_FALSE(fs::exists(home.settingsFile()));
    EXPECT_EQ(platform::profileInt("S", "V", 0), 0) << "unset, the usual file is back";
}

TEST(ProfileStoreTest, ABrokenFileReadsAsDefaultsAndIsNeverOverwritten) {
    ConfigHome home;
    const std::string broken = "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Olm\\KVD4093\\S]\r\n"
                               "\"V\"=dword:00000001\r\n\"W\"=dword:2\r\nhand-made line\r\n";
    writeWholeFile(home.settingsFile(), broken);
    EXPECT_EQ(platform::profileInt("S", "V", 9), 9) << "nothing of a broken file is believed";

    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(platform::writeProfileInt("S", "V", 5));
    EXPECT_FALSE(platform::writeProfileString("S", "T", "x"));
    EXPECT_FALSE(platform::deleteProfileSection("S"));
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(said, "KVD4093: settings not saved in " + home.settingsFile() +
                        ": line 6: not a key, a value or a comment; the file is left as it is until it is "
                        "repaired or removed\n")
        << "said once, however many writes fail";
    EXPECT_EQ(readWholeFile(home.settingsFile()), broken);

    fs::remove(home.settingsFile());
    EXPECT_TRUE(platform::writeProfileInt("S", "V", 5)) << "a removed file starts afresh";
    EXPECT_EQ(platform::profileInt("S", "V", 9), 5);
}

TEST(ProfileStoreTest, AFolderThatCannotBeMadeFailsTheWrite) {
    TempDir dir;
    writeWholeFile(dir.file("file"), "not a folder");
    ScopedVariable config("XDG_CONFIG_HOME", dir.file("file").c_str());
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(platform::writeProfileInt("S", "V", 1));
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("cannot make the folder " + dir.file("file/Olm")),
              std::string::npos);
}

TEST(ProfileStoreTest, ThreadsWritingAtOnceLoseNothing) {
    ConfigHome home;
    constexpr int kThreads = 4;
    constexpr int kWritesEach = 15;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < kWritesEach; ++i) {
                const std::string name = "T" + std::to_string(t) + "-" + std::to_string(i);
                EXPECT_TRUE(platform::writeProfileInt("Threads", name.c_str(), t * 1000 + i));
            }
        });
    for (std::thread &thread : threads)
        thread.join();
    for (int t = 0; t < kThreads; ++t)
        for (int i = 0; i < kWritesEach; ++i) {
            const std::string name = "T" + std::to_string(t) + "-" + std::to_string(i);
            EXPECT_EQ(platform::profileInt("Threads", name.c_str(), -1), t * 1000 + i) << name;
        }
}

// What may stand in the settings file's place: each reads as no file (every
// value its default), takes no write and is left as it is, and none of them
// is waited on or read without end.
TEST(ProfileStoreTest, HostileFileShapesReadAsAbsentAndTakeNoWrite) {
    const std::string root = "[HKEY_CURRENT_USER\\Software\\Olm\\KVD4093";
    std::string deep = "REGEDIT4\r\n\r\n" + root;
    for (int level = 0; level < 4000; ++level)
        deep += "\\k";
    deep += "]\r\n\"N\"=dword:00000001\r\n";
    const std::string large = "REGEDIT4\r\n\r\n" + root + "]\r\n;" + std::string(size_t(1) << 20, 'x') + "\r\n";
    struct Case {
        const char *what;
        void (*make)(const std::string &file, const std::string &deep, const std::string &large);
    };
    const Case cases[] = {
        {"a FIFO", [](const std::string &file, const std::string &, const std::string &) {
             ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
         }},
        {"a link to /dev/zero", [](const std::string &file, const std::string &, const std::string &) {
             fs::create_symlink("/dev/zero", file);
         }},
        {"a folder", [](const std::string &file, const std::string &, const std::string &) {
             fs::create_directory(file);
         }},
        {"keys 4000 deep", [](const std::string &file, const std::string &text, const std::string &) {
             writeWholeFile(file, text);
         }},
        {"a file over 1 MiB", [](const std::string &file, const std::string &, const std::string &text) {
             writeWholeFile(file, text);
         }},
    };
    for (const Case &c : cases) {
        ConfigHome home;
        fs::create_directories(home.path() + "/Olm");
        c.make(home.settingsFile(), deep, large);
        const auto before = fs::symlink_status(home.settingsFile()).type();
        EXPECT_EQ(platform::profileInt("", "N", 7), 7) << c.what;
        EXPECT_FALSE(platform::writeProfileInt("", "N", 1)) << c.what;
        EXPECT_EQ(fs::symlink_status(home.settingsFile()).type(), before) << c.what;
        if (before == fs::file_type::regular) {
            const size_t made = c.make == cases[3].make ? deep.size() : large.size();
            EXPECT_EQ(fs::file_size(home.settingsFile()), made) << c.what;
        }
    }
}

TEST(ProfileStoreTest, KeysAsDeepAsTheRegistryAllowsAreKept) {
    ConfigHome home;
    std::string section = "k";
    for (size_t level = 1; level < 512; ++level)
        section += "\\k";
    ASSERT_TRUE(platform::writeProfileInt(section.c_str(), "N", 5));
    EXPECT_EQ(platform::profileInt(section.c_str(), "N", 0), 5);
    EXPECT_FALSE(platform::writeProfileInt((section + "\\k").c_str(), "N", 5)) << "513 levels";
}

// A settings file that is a link stays one: the saves land in the file it points to.
TEST(ProfileStoreTest, ALinkedSettingsFileIsWrittenThrough) {
    for (const bool targetExists : {true, false}) {
        ConfigHome home;
        fs::create_directories(home.path() + "/Olm");
        fs::create_directories(home.path() + "/elsewhere");
        const std::string target = home.path() + "/elsewhere/settings.reg";
        if (targetExists) {
            ASSERT_TRUE(platform::writeProfileInt("", "Old", 1)) << "made at the usual place first";
            fs::rename(home.settingsFile(), target);
        }
        fs::create_symlink("../elsewhere/settings.reg", home.settingsFile());
        for (int value : {2, 3})
            ASSERT_TRUE(platform::writeProfileInt("", "N", value)) << targetExists;
        EXPECT_TRUE(fs::is_symlink(home.settingsFile())) << targetExists;
        EXPECT_EQ(platform::profileInt("", "N", 0), 3) << targetExists;
        EXPECT_NE(readWholeFile(target).find("\"N\"=dword:00000003"), std::string::npos) << targetExists;
        EXPECT_EQ(platform::profileInt("", "Old", 0), targetExists ? 1 : 0);
    }
}

} // namespace
} // namespace kvd::testing
