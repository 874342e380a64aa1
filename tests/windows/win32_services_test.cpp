// The Win32 OS services behind the platform contract: environment, the
// thread's last-error code, clocks, threads, events and program start.
#include <windows.h>

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "platform/platform.h"

namespace kvd::testing {
namespace {

// ---- environment ------------------------------------------------------------------------

class Win32EnvironmentTest : public ::testing::Test {
protected:
    void TearDown() override { SetEnvironmentVariableA(kName, nullptr); }
    static constexpr char kName[] = "KVD4093_ENVIRONMENT_TEST";
};

TEST_F(Win32EnvironmentTest, SeesEveryWayOfSettingAVariable) {
    EXPECT_EQ(platform::environmentVariable(kName), nullptr);

    ASSERT_TRUE(SetEnvironmentVariableA(kName, "set by the OS call"));
    ASSERT_NE(platform::environmentVariable(kName), nullptr);
    EXPECT_STREQ(platform::environmentVariable(kName), "set by the OS call");

    ASSERT_EQ(_putenv_s(kName, "set by the C runtime"), 0);
    EXPECT_STREQ(platform::environmentVariable(kName), "set by the C runtime");

    const std::string longValue(5000, 'v'); // longer than the first guess at its size
    ASSERT_TRUE(SetEnvironmentVariableA(kName, longValue.c_str()));
    EXPECT_EQ(platform::environmentVariable(kName), longValue);

    ASSERT_TRUE(SetEnvironmentVariableA(kName, ""));
    ASSERT_NE(platform::environmentVariable(kName), nullptr) << "set but empty is not unset";
    EXPECT_STREQ(platform::environmentVariable(kName), "");

    ASSERT_TRUE(SetEnvironmentVariableA(kName, nullptr));
    EXPECT_EQ(platform::environmentVariable(kName), nullptr);
    EXPECT_EQ(platform::environmentVariable(nullptr), nullptr);
}

TEST_F(Win32EnvironmentTest, AnEarlierTextStaysValidWhenTheValueChanges) {
    ASSERT_TRUE(SetEnvironmentVariableA(kName, "first"));
    const char *first = platform::environmentVariable(kName);
    ASSERT_TRUE(SetEnvironmentVariableA(kName, "second"));
    EXPECT_STREQ(platform::environmentVariable(kName), "second");
    EXPECT_STREQ(first, "first");
}

TEST_F(Win32EnvironmentTest, LookingUpLeavesTheLastErrorCodeAlone) {
    for (const char *value : {"present", static_cast<const char *>(nullptr)}) {
        SetEnvironmentVariableA(kName, value);
        SetLastError(4093);
        platform::environmentVariable(kName);
        EXPECT_EQ(GetLastError(), 4093u) << (value ? "set" : "unset");
    }
}

// ---- the last-error code ------------------------------------------------------------------

DWORD WINAPI readLastError(void *seen) {
    *static_cast<DWORD *>(seen) = platform::lastError();
    return 0;
}

TEST(Win32LastErrorTest, IsTheThreadsOwnOsCode) {
    platform::setLastError(2);
    EXPECT_EQ(GetLastError(), 2u);
    SetLastError(ERROR_ACCESS_DENIED);
    EXPECT_EQ(platform::lastError(), uint32_t(ERROR_ACCESS_DENIED));

    DWORD seenByOtherThread = 0;
    HANDLE other = CreateThread(nullptr, 0, &readLastError, &seenByOtherThread, 0, nullptr);
    ASSERT_NE(other, nullptr);
    WaitForSingleObject(other, INFINITE);
    CloseHandle(other);
    EXPECT_NE(seenByOtherThread, DWORD(ERROR_ACCESS_DENIED)) << "each thread has its own code";
    EXPECT_EQ(platform::lastError(), uint32_t(ERROR_ACCESS_DENIED));
}

// ---- clocks -----------------------------------------------------------------------------------

TEST(Win32ClockTest, UtcNowIsTheSystemTimeFieldByField) {
    // Read between two readings of the OS's own clock that fall in the same second.
    for (int attempt = 0; attempt < 10; ++attempt) {
        SYSTEMTIME before{}, after{};
        GetSystemTime(&before);
        const platform::SystemTime now = platform::utcNow();
        GetSystemTime(&after);
        if (before.wSecond != after.wSecond || before.wMinute != after.wMinute)
            continue;
        EXPECT_EQ(now.year, before.wYear);
        EXPECT_EQ(now.month, before.wMonth);
        EXPECT_EQ(now.dayOfWeek, before.wDayOfWeek);
        EXPECT_EQ(now.day, before.wDay);
        EXPECT_EQ(now.hour, before.wHour);
        EXPECT_EQ(now.minute, before.wMinute);
        EXPECT_EQ(now.second, before.wSecond);
        EXPECT_GE(now.milliseconds, before.wMilliseconds);
        EXPECT_LE(now.milliseconds, after.wMilliseconds);
        return;
    }
    FAIL() << "the clock never stood still for a second";
}

TEST(Win32ClockTest, TickCountAndCounterAreTheOsCounters) {
    const DWORD ticksBefore = GetTickCount();
    const uint32_t ticks = platform::tickCount();
    EXPECT_LE(uint32_t(ticks - ticksBefore), 1000u) << "the same clock, read a moment later";

    LARGE_INTEGER frequency{}, before{}, after{};
    QueryPerformanceFrequency(&frequency);
    EXPECT_EQ(platform::performanceFrequency(), frequency.QuadPart);
    QueryPerformanceCounter(&before);
    const int64_t count = platform::performanceCounter();
    QueryPerformanceCounter(&after);
    EXPECT_GE(count, before.QuadPart);
    EXPECT_LE(count, after.QuadPart);
}

// ---- threads and events ---------------------------------------------------------------------

uint32_t KVD4093_CALL countRun(void *counter) {
    InterlockedIncrement(static_cast<volatile LONG *>(counter));
    return 7;
}

uint32_t KVD4093_CALL waitForEvent(void *event) {
    WaitForSingleObject(static_cast<HANDLE>(event), INFINITE);
    return 0;
}

TEST(Win32ThreadTest, ThreadStartsSuspendedAndRunsOnceResumed) {
    volatile LONG runs = 0;
    platform::Handle *thread = platform::createSuspendedThread(&countRun, const_cast<LONG *>(&runs));
    ASSERT_NE(thread, nullptr);
    const HANDLE handle = static_cast<HANDLE>(thread); // the OS's own handle
    EXPECT_EQ(WaitForSingleObject(handle, 50), DWORD(WAIT_TIMEOUT));
    EXPECT_EQ(runs, 0);
    uint32_t code = 0;
    ASSERT_TRUE(platform::threadExitCode(thread, &code));
    EXPECT_EQ(code, uint32_t(STILL_ACTIVE));

    EXPECT_EQ(ResumeThread(handle), 1u) << "suspended once";
    ASSERT_EQ(WaitForSingleObject(handle, INFINITE), DWORD(WAIT_OBJECT_0));
    EXPECT_EQ(runs, 1);
    ASSERT_TRUE(platform::threadExitCode(thread, &code));
    EXPECT_EQ(code, 7u);
    EXPECT_TRUE(platform::closeHandle(thread));
}

TEST(Win32ThreadTest, TerminatedThreadEndsWithTheGivenCode) {
    HANDLE never = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    platform::Handle *thread = platform::createSuspendedThread(&waitForEvent, never);
    ASSERT_NE(thread, nullptr);
    ResumeThread(static_cast<HANDLE>(thread));
    ASSERT_TRUE(platform::terminateThread(thread, STILL_ACTIVE));
    ASSERT_EQ(WaitForSingleObject(static_cast<HANDLE>(thread), INFINITE), DWORD(WAIT_OBJECT_0));
    uint32_t code = 0;
    ASSERT_TRUE(platform::threadExitCode(thread, &code));
    EXPECT_EQ(code, uint32_t(STILL_ACTIVE));
    EXPECT_TRUE(platform::closeHandle(thread));
    CloseHandle(never);
}

TEST(Win32ThreadTest, AnInvalidHandleIsNoThread) {
    uint32_t code = 99;
    EXPECT_FALSE(platform::threadExitCode(nullptr, &code));
    EXPECT_EQ(code, 99u);
    EXPECT_FALSE(platform::terminateThread(nullptr, 0));
    EXPECT_FALSE(platform::closeHandle(nullptr));
}

TEST(Win32EventTest, EventIsAutoResetAndStartsUnsignalled) {
    platform::Handle *event = platform::createAutoResetEvent();
    ASSERT_NE(event, nullptr);
    const HANDLE handle = static_cast<HANDLE>(event);
    EXPECT_EQ(WaitForSingleObject(handle, 0), DWORD(WAIT_TIMEOUT)) << "not signalled at first";
    ASSERT_TRUE(SetEvent(handle));
    EXPECT_EQ(WaitForSingleObject(handle, 0), DWORD(WAIT_OBJECT_0));
    EXPECT_EQ(WaitForSingleObject(handle, 0), DWORD(WAIT_TIMEOUT)) << "a wait resets it";
    EXPECT_TRUE(platform::closeHandle(event));
    EXPECT_FALSE(platform::closeHandle(event)) << "closed already";
}

// ---- programs --------------------------------------------------------------------------------

TEST(Win32ProgramTest, StartProgramGivesWinExecsResult) {
    EXPECT_GT(platform::startProgram("cmd.exe /c exit", SW_HIDE), 31u);
    const uint32_t missing = platform::startProgram("C:\\no such folder\\KVD4093S.Doc", SW_HIDE);
    EXPECT_TRUE(missing == ERROR_FILE_NOT_FOUND || missing == ERROR_PATH_NOT_FOUND) << missing;
    EXPECT_EQ(platform::startProgram(nullptr, SW_HIDE), uint32_t(ERROR_FILE_NOT_FOUND));
}

} // namespace
} // namespace kvd::testing
