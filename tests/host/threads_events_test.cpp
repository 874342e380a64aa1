// Threads made suspended, their ends, auto-reset events and the closing of
// handles, through the exports and the POSIX companion.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "KVD4093_posix.h"
#include "core/messages.h"
#include "platform/platform.h"
#include "support/test_support.h"

namespace kvd::testing {
namespace {

constexpr uint32_t kStillActive = 259;
constexpr uint32_t kRoutineResult = 42;
constexpr uint32_t kPatience = 5000; // ms; only ever waited out when something is broken

// What the routines below see and do. One test at a time uses them.
struct Routines {
    std::atomic<int> runs{0};
    KVD4093_HANDLE started = nullptr; // set by a routine when it begins
    KVD4093_HANDLE go = nullptr;      // waited for by the blocking routine
    KVD4093_HANDLE done = nullptr;    // set by the blocking routine as its last step
};
Routines g_routines;

uint32_t KVD4093_CALL countingRoutine(void *) {
    ++g_routines.runs;
    KVD4093_SetEvent(g_routines.started);
    return kRoutineResult;
}

uint32_t KVD4093_CALL blockingRoutine(void *) {
    ++g_routines.runs;
    KVD4093_SetEvent(g_routines.started);
    const uint32_t result = KVD4093_WaitEvent(g_routines.go, kPatience) == 1 ? kRoutineResult : 0;
    KVD4093_SetEvent(g_routines.done);
    return result;
}

uint32_t exitCode(KVD4093_HANDLE thread) {
    uint32_t code = 0;
    EXPECT_TRUE(platform::threadExitCode(static_cast<platform::Handle *>(thread), &code));
    return code;
}

// The exit code once the routine has returned (it changes just after the routine's last step).
uint32_t exitCodeAfterEnd(KVD4093_HANDLE thread) {
    for (int i = 0; i < 5000 && exitCode(thread) == kStillActive; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return exitCode(thread);
}

class ThreadTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_routines.runs = 0;
        g_routines.started = KVD4093_CreateSystemEvent();
        g_routines.go = KVD4093_CreateSystemEvent();
        g_routines.done = KVD4093_CreateSystemEvent();
        ASSERT_NE(g_routines.started, nullptr);
        ASSERT_NE(g_routines.go, nullptr);
        ASSERT_NE(g_routines.done, nullptr);
    }
    void TearDown() override {
        for (KVD4093_HANDLE event : {g_routines.started, g_routines.go, g_routines.done})
            EXPECT_EQ(KVD4093_ReleaseSystemEvent(event), 1);
    }

    KVD4093_HANDLE create(KVD4093_THREAD_ROUTINE routine) {
        KVD4093_HANDLE thread = nullptr;
        EXPECT_EQ(KVD4093_CreateVBThread(&thread, routine), 1);
        EXPECT_NE(thread, nullptr);
        return thread;
    }

    CapturedMessages messages_;
};

TEST_F(ThreadTest, ThreadRunsOnlyOnceResumedAndThenReportsItsResult) {
    KVD4093_HANDLE thread = create(&countingRoutine);
    // Time enough for a thread that was not held back to have run.
    EXPECT_EQ(KVD4093_WaitEvent(g_routines.started, 100), 0);
    EXPECT_EQ(g_routines.runs, 0);
    EXPECT_EQ(exitCode(thread), kStillActive);
    EXPECT_EQ(KVD4093_ResumeThread(thread), 1);
    EXPECT_EQ(KVD4093_WaitEvent(g_routines.started, kPatience), 1);
    EXPECT_EQ(exitCodeAfterEnd(thread), kRoutineResult);
    EXPECT_EQ(KVD4093_ResumeThread(thread), 1); // a second resume changes nothing
    EXPECT_EQ(g_routines.runs, 1);
    EXPECT_EQ(KVD4093_ReleaseSystemEvent(thread), 1);
    EXPECT_EQ(KVD4093_ReleaseSystemEvent(thread), 0);
    EXPECT_TRUE(messages_.messages().empty());
}

TEST_F(ThreadTest, TerminatedBeforeItRanItNeverRuns) {
    KVD4093_HANDLE thread = create(&countingRoutine);
    EXPECT_EQ(KVD4093_TerminateVBThread(thread), 1);
    EXPECT_EQ(KVD4093_ResumeThread(thread), 0);
    EXPECT_EQ(exitCode(thread), kStillActive); // ended with the code it had
    EXPECT_EQ(KVD4093_TerminateVBThread(thread), 1); // ended already
    EXPECT_EQ(KVD4093_ReleaseSystemEvent(thread), 1); // joins it
    EXPECT_EQ(g_routines.runs, 0);
}

TEST_F(ThreadTest, ARunningThreadCannotBeTerminatedAndRunsToItsEnd) {
    KVD4093_HANDLE thread = create(&blockingRoutine);
    ASSERT_EQ(KVD4093_ResumeThread(thread), 1);
    ASSERT_EQ(KVD4093_WaitEvent(g_routines.started, kPatience), 1);
    EXPECT_EQ(KVD4093_TerminateVBThread(thread), 0);
    EXPECT_EQ(exitCode(thread), kStillActive);
    EXPECT_EQ(KVD4093_SetEvent(g_routines.go), 1);
    EXPECT_EQ(exitCodeAfterEnd(thread), kRoutineResult);
    EXPECT_EQ(KVD4093_TerminateVBThread(thread), 1); // it has ended: nothing left to end
    EXPECT_EQ(exitCode(thread), kRoutineResult);
    EXPECT_EQ(KVD4093_ReleaseSystemEvent(thread), 1);
}

TEST_F(ThreadTest, ClosingASuspendedThreadEndsItUnrun) {
    KVD4093_HANDLE thread = create(&countingRoutine);
    EXPECT_EQ(KVD4093_ReleaseSystemEvent(thread), 1);
    EXPECT_EQ(g_routines.runs, 0);
    EXPECT_EQ(KVD4093_ResumeThread(thread), 0);
}

TEST_F(ThreadTest, ClosingARunningThreadLetsItRunOn) {
    KVD4093_HANDLE thread = create(&blockingRoutine);
    ASSERT_EQ(KVD4093_ResumeThread(thread), 1);
    ASSERT_EQ(KVD4093_WaitEvent(g_routines.started, kPatience), 1);
    EXPECT_EQ(KVD4093_ReleaseSystemEvent(thread), 1);
    EXPECT_EQ(KVD4093_TerminateVBThread(thread), 0);
    EXPECT_EQ(KVD4093_SetEvent(g_routines.go), 1);
    EXPECT_EQ(KVD4093_WaitEvent(g_routines.done, kPatience), 1); // it ran on to its end
    EXPECT_EQ(g_routines.runs, 1);
}

TEST_F(ThreadTest, NullThreadVariableCreatesNothing) {
    EXPECT_EQ(KVD4093_CreateVBThread(nullptr, &countingRoutine), 0);
    EXPECT_TRUE(messages_.messages().empty());
    EXPECT_EQ(g_routines.runs, 0);
}

TEST_F(ThreadTest, FailedCreationStoresNullAndShowsTheBox) {
    int garbage = 0;
    KVD4093_HANDLE thread = &garbage;
    const size_t before = errorLogStrings();
    EXPECT_EQ(KVD4093_CreateVBThread(&thread, nullptr), 0);
    EXPECT_EQ(thread, nullptr);
    const std::vector<Message> boxes = messages_.messages();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "\xb6\xd4\xb2\xbb\xc6\xf0,\xd0\xc2\xcf\xdf\xb3\xcc\xb4\xb4\xbd\xa8\xca\xa7\xb0\xdc...");
    EXPECT_EQ(boxes[0].caption, "\xcc\xe1\xd0\xd1\xc4\xfa");
    EXPECT_EQ(boxes[0].style, 0u);
    EXPECT_TRUE(entriesSince(before).empty());
}

TEST_F(ThreadTest, HandlesThatAreNoThreadAreRefused) {
    int garbage = 0;
    KVD4093_HANDLE closed = create(&countingRoutine);
    ASSERT_EQ(KVD4093_ReleaseSystemEvent(closed), 1);
    for (KVD4093_HANDLE handle :
         {KVD4093_HANDLE{}, KVD4093_INVALID_HANDLE, KVD4093_HANDLE(&garbage), closed, g_routines.go}) {
        EXPECT_EQ(KVD4093_TerminateVBThread(handle), 0) << handle;
        EXPECT_EQ(KVD4093_ResumeThread(handle), 0) << handle;
    }
    EXPECT_EQ(KVD4093_WaitEvent(g_routines.go, 0), 0); // the event was left as it was
}

TEST(EventTest, AutoResetEventIsMadeClearAndOneWaitTakesOneSignal) {
    KVD4093_HANDLE event = KVD4093_CreateSystemEvent();
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(KVD4093_WaitEvent(event, 0), 0);
    EXPECT_EQ(KVD4093_SetEvent(event), 1);
    EXPECT_EQ(KVD4093_SetEvent(event), 1); // signals do not add up
    EXPECT_EQ(KVD4093_WaitEvent(event, 0), 1);
    EXPECT_EQ(KVD4093_WaitEvent(event, 20), 0);
    EXPECT_EQ(KVD4093_ReleaseSystemEvent(event), 1);
    EXPECT_EQ(KVD4093_SetEvent(event), 0);
    EXPECT_EQ(KVD4093_WaitEvent(event, 0), -1);
}

TEST(EventTest, SetWakesAThreadWaitingWithoutLimit) {
    KVD4093_HANDLE event = KVD4093_CreateSystemEvent();
    std::atomic<int32_t> result{-2};
    std::thread waiter([&] { result = KVD4093_WaitEvent(event, KVD4093_WAIT_FOREVER); });
    EXPECT_EQ(KVD4093_SetEvent(event), 1);
    waiter.join();
    EXPECT_EQ(result, 1);
    EXPECT_EQ(KVD4093_WaitEvent(event, 0), 0); // the waiter reset it
    EXPECT_EQ(KVD4093_ReleaseSystemEvent(event), 1);
}

TEST(EventTest, OneSignalReleasesExactlyOneOfTwoWaiters) {
    KVD4093_HANDLE event = KVD4093_CreateSystemEvent();
    std::atomic<int32_t> results[2] = {-2, -2};
    std::thread first([&] { results[0] = KVD4093_WaitEvent(event, 300); });
    std::thread second([&] { results[1] = KVD4093_WaitEvent(event, 300); });
    EXPECT_EQ(KVD4093_SetEvent(event), 1);
    first.join();
    second.join();
    EXPECT_EQ(results[0] + results[1], 1) << results[0] << " " << results[1];
    EXPECT_EQ(KVD4093_ReleaseSystemEvent(event), 1);
}

TEST(EventTest, ClosingAnEventUnderAWaiterLetsTheWaitRunOut) {
    KVD4093_HANDLE event = KVD4093_CreateSystemEvent();
    std::atomic<int32_t> result{-2};
    std::thread waiter([&] { result = KVD4093_WaitEvent(event, 100); });
    EXPECT_EQ(KVD4093_ReleaseSystemEvent(event), 1);
    waiter.join();
    EXPECT_TRUE(result == 0 || result == -1) << result; // timed out, or came after the close
}

TEST(EventTest, ReleaseRefusesEverythingTheLibraryDidNotGiveOut) {
    int garbage = 0;
    for (KVD4093_HANDLE handle : {KVD4093_HANDLE{}, KVD4093_INVALID_HANDLE, KVD4093_HANDLE(&garbage)}) {
        EXPECT_EQ(KVD4093_ReleaseSystemEvent(handle), 0) << handle;
        EXPECT_EQ(KVD4093_SetEvent(handle), 0) << handle;
        EXPECT_EQ(KVD4093_WaitEvent(handle, 0), -1) << handle;
    }
}

TEST(EventTest, ReleaseDoesNotCloseFileObjects) {
    vcard::install({7});
    TempDir dir;
    // A file object is a handle of the library, but no thread or event.
    KVD4093_HANDLE device = KVD4093_CreateDevice(0);
    ASSERT_NE(device, KVD4093_INVALID_HANDLE);
    KVD4093_HANDLE file = KVD4093_CreateFileObject(device, dir.file("f").c_str(),
                                                   platform::file_mode::kCreate | platform::file_mode::kReadWrite);
    ASSERT_NE(file, KVD4093_INVALID_HANDLE);
    EXPECT_EQ(KVD4093_ReleaseSystemEvent(file), 0);
    EXPECT_EQ(KVD4093_ReleaseSystemEvent(device), 0);
    EXPECT_EQ(KVD4093_WriteFile(file, "x", 1), 1);
    EXPECT_EQ(KVD4093_ReleaseFile(file), 1);
    EXPECT_EQ(KVD4093_ReleaseDevice(device), 1);
    vcard::uninstall();
}

} // namespace
} // namespace kvd::testing
