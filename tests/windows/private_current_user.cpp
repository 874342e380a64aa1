// Every test of this program on Windows sees a private HKEY_CURRENT_USER: a
// fresh key below the real one, mapped over it for the whole process and
// deleted at the end. Tests neither read nor change the user's settings, and
// they start from an empty registry whatever ran before.
//
// Child processes learn the key from KVD4093TESTS_CURRENT_USER (not a
// KVD4093_ variable, which the tests keep from their children): the test's
// child programs map it over their own HKEY_CURRENT_USER, so what they store
// is what this process reads. A death test's child, a copy of this program,
// uses the key of the process that started it and leaves it to that one.
#include <windows.h>

#include <string>

#include <gtest/gtest.h>

namespace {

constexpr char kVariable[] = "KVD4093TESTS_CURRENT_USER";
constexpr char kTestsKey[] = "Software\\KVD4093 tests";

class PrivateCurrentUser : public ::testing::Environment {
public:
    void SetUp() override {
        char inherited[MAX_PATH];
        const DWORD length = GetEnvironmentVariableA(kVariable, inherited, MAX_PATH);
        if (!GTEST_FLAG_GET(internal_run_death_test).empty() && length > 0 && length < MAX_PATH) {
            path_ = inherited;
        } else {
            path_ = std::string(kTestsKey) + "\\" + std::to_string(GetCurrentProcessId());
            RegDeleteTreeA(HKEY_CURRENT_USER, path_.c_str()); // left by an earlier process of the same id
            owner_ = true;
        }
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                  KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        key_ = key;
        ASSERT_EQ(RegOverridePredefKey(HKEY_CURRENT_USER, key_), ERROR_SUCCESS);
        SetEnvironmentVariableA(kVariable, path_.c_str());
    }

    void TearDown() override {
        if (key_ == nullptr)
            return;
        RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
        RegCloseKey(key_);
        if (!owner_)
            return;
        RegDeleteTreeA(HKEY_CURRENT_USER, path_.c_str());
        RegDeleteKeyA(HKEY_CURRENT_USER, kTestsKey); // goes only when no other process uses it
    }

private:
    std::string path_;
    HKEY key_ = nullptr;
    bool owner_ = false;
};

::testing::Environment *const kPrivateCurrentUser = ::testing::AddGlobalTestEnvironment(new PrivateCurrentUser);

} // namespace
