// Threads and events through the exports on Windows: the handles are the
// OS's own, so the caller resumes, signals, waits on and closes them with
// the Win32 calls, and a running thread can be terminated.
#include <windows.h>

#include <gtest/gtest.h>

#include "KVD4093.h"
#include "core/messages.h"
#include "support/test_support.h"

namespace kvd::testing {
namespace {

constexpr uint32_t kRoutineResult = 42;

// What the routines below see and do. One test at a time uses them.
struct Routines {
    volatile LONG runs = 0;
    HANDLE started = nullptr; // set by a routine when it begins
    HANDLE never = nullptr;   // never set: the blocking routine waits for it
};
Routines g_routines;

uint32_t KVD4093_CALL countingRoutine(void *) {
    InterlockedIncrement(&g_routines.runs);
    SetEvent(g_routines.started);
    return kRoutineResult;
}

uint32_t KVD4093_CALL blockingRoutine(void *) {
    InterlockedIncrement(&g_routines.runs);
    SetEvent(g_routines.started);
    WaitForSingleObject(g_routines.never, INFINITE);
    return kRoutineResult;
}

DWORD exitCode(HANDLE thread) {
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(thread, &code));
    return code;
}

class WindowsThreadTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_routines.runs = 0;
        g_routines.started = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        g_routines.never = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    }
    void TearDown() override {
        CloseHandle(g_routines.started);
        CloseHandle(g_routines.never);
    }

    HANDLE create(KVD4093_THREAD_ROUTINE routine) {
        KVD4093_HANDLE thread = nullptr;
        EXPECT_EQ(KVD4093_CreateVBThread(&thread, routine), 1);
        EXPECT_NE(thread, nullptr);
        return static_cast<HANDLE>(thread);
    }

    CapturedMessages messages_;
};

TEST_F(WindowsThreadTest, ThreadRunsOnlyOnceResumedAndReportsItsResult) {
    const HANDLE thread = create(&countingRoutine);
    EXPECT_EQ(WaitForSingleObject(g_routines.started, 100), DWORD(WAIT_TIMEOUT)) << "held back";
    EXPECT_EQ(g_routines.runs, 0);
    EXPECT_EQ(exitCode(thread), DWORD(STILL_ACTIVE));
    EXPECT_EQ(ResumeThread(thread), 1u) << "suspended once, by the library";
    ASSERT_EQ(WaitForSingleObject(thread, INFINITE), DWORD(WAIT_OBJECT_0));
    EXPECT_EQ(g_routines.runs, 1);
    EXPECT_EQ(exitCode(thread), kRoutineResult);
    EXPECT_EQ(KVD4093_ReleaseSystemEvent(thread), 1) << "closes any handle";
    EXPECT_TRUE(messages_.messages().empty());
}

TEST_F(WindowsThreadTest, TerminateEndsARunningThreadWithTheStillActiveCode) {
    const HANDLE thread = create(&blockingRoutine);
    ResumeThread(thread);
    ASSERT_EQ(WaitForSingleObject(g_routines.started, INFINITE), DWORD(WAIT_OBJECT_0));
    EXPECT_EQ(KVD4093_TerminateVBThread(thread), 1);
    ASSERT_EQ(WaitForSingleObject(thread, INFINITE), DWORD(WAIT_OBJECT_0)) << "it has ended";
    EXPECT_EQ(exitCode(thread), DWORD(STILL_ACTIVE)) << "the code it had when terminated";
    EXPECT_EQ(KVD4093_TerminateVBThread(thread), 1) << "ended already: the OS terminates nothing and agrees";
    EXPECT_EQ(KVD4093_ReleaseSystemEvent(thread), 1);
}

TEST_F(WindowsThreadTest, TerminatedBeforeItRanItNeverRuns) {
    const HANDLE thread = create(&countingRoutine);
    EXPECT_EQ(KVD4093_TerminateVBThread(thread), 1);
    ASSERT_EQ(WaitForSingleObject(thread, INFINITE), DWORD(WAIT_OBJECT_0));
    EXPECT_EQ(g_routines.runs, 0);
    EXPECT_EQ(KVD4093_ReleaseSystemEvent(thread), 1);
}

TEST_F(WindowsThreadTest, FailedCreationStoresNullAndShowsTheBoxOnce) {
    int garbage = 0;
    KVD4093_HANDLE thread = &garbage;
    const size_t before = errorLogStrings();
    EXPECT_EQ(KVD4093_CreateVBThread(&thread, nullptr), 0);
    EXPECT_EQ(thread, nullptr);
    const std::vector<Message> boxes = messages_.messages();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, text::kThreadCreateFailed);
    EXPECT_EQ(boxes[0].caption, text::kThreadCaption);
    EXPECT_EQ(boxes[0].style, 0u);
    EXPECT_TRUE(entriesSince(before).empty());
}

TEST_F(WindowsThreadTest, HandlesThatAreNoThreadAreRefused) {
    const HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    for (KVD4093_HANDLE handle : {KVD4093_HANDLE{}, KVD4093_HANDLE(event)})
        EXPECT_EQ(KVD4093_TerminateVBThread(handle), 0) << handle;
    EXPECT_EQ(WaitForSingleObject(event, 0), DWORD(WAIT_TIMEOUT)) << "the event was left as it was";
    CloseHandle(event);
}

TEST(WindowsEventTest, AutoResetEventStartsClearAndOneWaitTakesOneSignal) {
    const KVD4093_HANDLE made = KVD4093_CreateSystemEvent();
    ASSERT_NE(made, nullptr);
    const HANDLE event = static_cast<HANDLE>(made);
    EXPECT_EQ(WaitForSingleObject(event, 0), DWORD(WAIT_TIMEOUT));
    ASSERT_TRUE(SetEvent(event));
    ASSERT_TRUE(SetEvent(event)); // signals do not add up
    EXPECT_EQ(WaitForSingleObject(event, 0), DWORD(WAIT_OBJECT_0));
    EXPECT_EQ(WaitForSingleObject(event, 20), DWORD(WAIT_TIMEOUT));
    EXPECT_EQ(KVD4093_ReleaseSystemEvent(made), 1);
    EXPECT_EQ(KVD4093_ReleaseSystemEvent(made), 0) << "closed already";
    EXPECT_EQ(KVD4093_ReleaseSystemEvent(nullptr), 0);
}

} // namespace
} // namespace kvd::testing
