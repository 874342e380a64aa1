// The profile store on Windows is the registry itself: what the library
// writes is read back here with the registry API directly, and the other way round.
#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "support/scoped_variable.h"

namespace kvd::testing {
namespace {

// Each test works below a root of its own (HKEY_CURRENT_USER is already
// private to this program), and puts the library's root back afterwards.
class Win32ProfileTest : public ::testing::Test {
protected:
    void SetUp() override { platform::setProfileRoot("Olm", "KVD4093-profile-test"); }
    void TearDown() override {
        RegDeleteTreeA(HKEY_CURRENT_USER, kRoot);
        platform::setProfileRoot("Olm", "KVD4093");
    }

    static constexpr char kRoot[] = "Software\\Olm\\KVD4093-profile-test";

    static std::string keyOf(const char *section) {
        return *section ? std::string(kRoot) + "\\" + section : std::string(kRoot);
    }
    static bool keyExists(const char *section) {
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, keyOf(section).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
            return false;
        RegCloseKey(key);
        return true;
    }
    // The value's type and bytes as the registry holds them; type 0 when missing.
    static std::pair<DWORD, std::string> rawValue(const char *section, const char *name) {
        char bytes[256];
        DWORD type = 0, size = sizeof bytes;
        if (RegGetValueA(HKEY_CURRENT_USER, keyOf(section).c_str(), name, RRF_RT_ANY | RRF_NOEXPAND, &type, bytes,
                         &size) != ERROR_SUCCESS)
            return {0, ""};
        return {type, std::string(bytes, size)};
    }
    static void setRaw(const char *section, const char *name, DWORD type, const void *data, DWORD size) {
        ASSERT_EQ(RegSetKeyValueA(HKEY_CURRENT_USER, keyOf(section).c_str(), name, type, data, size), ERROR_SUCCESS);
    }
};

std::string dwordBytes(DWORD value) { return std::string(reinterpret_cast<const char *>(&value), sizeof value); }

TEST_F(Win32ProfileTest, IntegersAreDwordsWithTheirBitPattern) {
    ASSERT_TRUE(platform::writeProfileInt("Device-3\\ADPara", "Frequency", 25000));
    ASSERT_TRUE(platform::writeProfileInt("Device-3\\ADPara", "TrigWindow", -2));
    EXPECT_EQ(rawValue("Device-3\\ADPara", "Frequency"), std::pair(DWORD(REG_DWORD), dwordBytes(25000)));
    EXPECT_EQ(rawValue("Device-3\\ADPara", "TrigWindow"), std::pair(DWORD(REG_DWORD), dwordBytes(0xFFFFFFFEu)));
    EXPECT_EQ(platform::profileInt("Device-3\\ADPara", "TrigWindow", 10), -2);

    const DWORD written = 0x80000000u;
    setRaw("Device-0", "DevicePhysID", REG_DWORD, &written, sizeof written);
    EXPECT_EQ(platform::profileInt("Device-0", "DevicePhysID", 7), INT32_MIN);
}

TEST_F(Win32ProfileTest, StringsAreAnsiTextWithTheirZeroAndGbkBytesPassUnchanged) {
    const std::string gbk = "\xc9\xe8\xb1\xb8 %d \xce\xde\xd0\xa7";
    ASSERT_TRUE(platform::writeProfileString("", "CompanyName", "Olmvarde"));
    ASSERT_TRUE(platform::writeProfileString("Device-0\\Others", "Note", gbk.c_str()));
    EXPECT_EQ(rawValue("", "CompanyName"), std::pair(DWORD(REG_SZ), std::string("Olmvarde", 9)));
    EXPECT_EQ(platform::profileString("Device-0\\Others", "Note", "default"), gbk);
    ASSERT_TRUE(platform::writeProfileString("Device-0\\Others", "Empty", ""));
    EXPECT_EQ(platform::profileString("Device-0\\Others", "Empty", "default"), "");

    setRaw("", "AppPath", REG_SZ, "D:\\KVD", 7);
    EXPECT_EQ(platform::profileString("", "AppPath", "C:\\OLM\\KVD4093"), "D:\\KVD");
}

TEST_F(Win32ProfileTest, MissingOrMistypedValuesGiveTheDefault) {
    EXPECT_EQ(platform::profileInt("Device-9\\ADPara", "Frequency", 25000), 25000) << "no section";
    EXPECT_EQ(platform::profileString("Device-9\\Others", "Name", "fallback"), "fallback");
    EXPECT_FALSE(keyExists("Device-9")) << "reading creates no key";

    ASSERT_TRUE(platform::writeProfileInt("Device-1\\Others", "Count", 5));
    EXPECT_EQ(platform::profileInt("Device-1\\Others", "Missing", -1), -1) << "no value";
    EXPECT_EQ(platform::profileString("Device-1\\Others", "Count", "text"), "text") << "a DWORD is not a string";
    setRaw("Device-1\\Others", "Text", REG_SZ, "12", 3);
    EXPECT_EQ(platform::profileInt("Device-1\\Others", "Text", 99), 99) << "a string is not a DWORD";
    setRaw("Device-1\\Others", "Binary", REG_BINARY, "\x01\x00\x00\x00", 4);
    EXPECT_EQ(platform::profileInt("Device-1\\Others", "Binary", 99), 99);
}

TEST_F(Win32ProfileTest, DeletingASectionTakesItsValuesAndSubKeysAndNothingElse) {
    ASSERT_TRUE(platform::writeProfileInt("Device-3\\ADPara", "Frequency", 1));
    ASSERT_TRUE(platform::writeProfileInt("Device-3\\ADPara\\Deeper", "Value", 2));
    ASSERT_TRUE(platform::writeProfileInt("Device-5\\ADPara", "Frequency", 3));
    ASSERT_TRUE(platform::writeProfileInt("Device-3", "Beside", 4));

    EXPECT_TRUE(platform::deleteProfileSection("Device-3\\ADPara"));
    EXPECT_FALSE(keyExists("Device-3\\ADPara"));
    EXPECT_TRUE(keyExists("Device-5\\ADPara"));
    EXPECT_EQ(platform::profileInt("Device-3", "Beside", 0), 4);
    EXPECT_FALSE(platform::deleteProfileSection("Device-3\\ADPara")) << "already gone";
}

// KVD4093_SETTINGS names the key below HKEY_CURRENT_USER that takes every
// read and write while it is set.
TEST_F(Win32ProfileTest, ANamedKeyTakesEveryReadAndWriteWhileItIsSet) {
    constexpr char kNamed[] = "Software\\Olm\\KVD4093-named-test";
    {
        ScopedVariable store("KVD4093_SETTINGS", kNamed);
        ASSERT_TRUE(platform::writeProfileInt("Device-3\\ADPara", "Frequency", 5));
        EXPECT_EQ(platform::profileInt("Device-3\\ADPara", "Frequency", 0), 5);
    }
    DWORD value = 0, size = sizeof value;
    EXPECT_EQ(RegGetValueA(HKEY_CURRENT_USER, "Software\\Olm\\KVD4093-named-test\\Device-3\\ADPara", "Frequency",
                           RRF_RT_REG_DWORD, nullptr, &value, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(value, 5u);
    EXPECT_FALSE(keyExists("Device-3")) << "the usual key is left alone";
    EXPECT_EQ(platform::profileInt("Device-3\\ADPara", "Frequency", 0), 0);
    RegDeleteTreeA(HKEY_CURRENT_USER, kNamed);
}

} // namespace
} // namespace kvd::testing
