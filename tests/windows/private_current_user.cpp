// Every test of this program on Windows sees a private HKEY_CURRENT_USER: a
// fresh key below the real one, mapped over it for the whole process and
// deleted at the end. Tests neither read nor change the user's settings, and
// they start from an empty registry whatever ran before.
#include <windows.h>

#include <string>

#include <gtest/gtest.h>

namespace {

constexpr char kTestsKey[] = "Software\\KVD4093 tests";

class PrivateCurrentUser : public ::testing::Environment {
public:
    void SetUp() override {
        // A death test's child ends without tearing down; it touches no settings.
        if (!GTEST_FLAG_GET(internal_run_death_test).empty())
            return;
        path_ = std::string(kTestsKey) + "\\" + std::to_string(GetCurrentProcessId());
        RegDeleteTreeA(HKEY_CURRENT_USER, path_.c_str()); // left by an earlier process of the same id
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                  KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        key_ = key;
        ASSERT_EQ(RegOverridePredefKey(HKEY_CURRENT_USER, key_), ERROR_SUCCESS);
    }

    void TearDown() override {
        if (key_ == nullptr)
            return;
        RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
        RegCloseKey(key_);
        RegDeleteTreeA(HKEY_CURRENT_USER, path_.c_str());
        RegDeleteKeyA(HKEY_CURRENT_USER, kTestsKey); // only goes when no other process uses it
    }

private:
    std::string path_;
    HKEY key_ = nullptr;
};

::testing::Environment *const kPrivateCurrentUser = ::testing::AddGlobalTestEnvironment(new PrivateCurrentUser);

} // namespace
