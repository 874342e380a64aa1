// The Windows card backend through the real setup enumeration. No card of
// the class is present on a test machine, so every open stops at the
// enumeration, and the library reports that the way its callers see it.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "core/messages.h"
#include "card_model/driver_protocol.h"
#include "platform/platform.h"
#include "support/test_support.h"
#include "windows/events_made.h"

namespace kvd::testing {
namespace {

class Win32CardBackendTest : public ::testing::Test {
protected:
    // The OS driver's backend, whatever KVD4093_VIRTUAL_CARDS says.
    void SetUp() override { platform::overrideCardBackend(&backend_); }
    void TearDown() override { platform::overrideCardBackend(nullptr); }

    const platform::CardBackend &backend_ = platform::osCardBackend();
    CapturedMessages messages_;
};

TEST_F(Win32CardBackendTest, NoCardPresentEndsTheOpenWithTheEnumerationsCode) {
    EXPECT_STREQ(backend_.name, "windows");
    for (int32_t logicalNumber : {0, 1, 31, -1}) {
        SCOPED_TRACE(logicalNumber);
        uint32_t status = 12345;
        EXPECT_EQ(backend_.open(logicalNumber, &status), nullptr);
        EXPECT_EQ(status, uint32_t(ERROR_NO_MORE_ITEMS)) << "no member at that index";
    }
}

TEST_F(Win32CardBackendTest, CreateDeviceWithNoCardGivesMinusOneAndTheEnglishMessage) {
    const size_t before = errorLogStrings();
    EXPECT_EQ(KVD4093_CreateDevice(0), KVD4093_INVALID_HANDLE);
    EXPECT_EQ(entriesSince(before), (std::vector<LogEntry>{{"KVD4093_CreateDevice", text::kNoDeviceDriver, "1(Dec)"}}));

    char answer[128] = {};
    EXPECT_EQ(KVD4093_GetLastErrorEx("KVD4093_CreateDevice", answer), 1u) << "the logged code is the thread's";
    EXPECT_EQ(std::string(answer), std::string(text::kNoDeviceDriver) + "[KVD4093_CreateDevice]");
    EXPECT_TRUE(messages_.messages().empty());
}

TEST_F(Win32CardBackendTest, SearchByPhysicalIdTriesEveryLogicalNumber) {
    const size_t before = errorLogStrings();
    EXPECT_EQ(KVD4093_CreateDeviceEx(5), KVD4093_INVALID_HANDLE);
    const std::vector<LogEntry> entries = entriesSince(before);
    ASSERT_EQ(entries.size(), 33u);
    for (size_t n = 0; n < 32; ++n)
        EXPECT_EQ(entries[n], (LogEntry{"KVD4093_CreateDevice", text::kNoDeviceDriver, "1(Dec)"})) << n;
    char missing[64];
    std::snprintf(missing, sizeof missing, text::kPhysicalIdMissingFormat, 5);
    EXPECT_EQ(entries.back(), (LogEntry{"KVD4093_CreateDeviceEx", missing, "1(Dec)"}));
}

TEST_F(Win32CardBackendTest, RequestsOnAFileThatIsNoDriverFailAndReportNoBytes) {
    TempDir dir;
    const HANDLE handle = CreateFileA(dir.file("not-a-driver").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    auto *file = reinterpret_cast<platform::BackendFile *>(handle);

    uint8_t pipeWord[4] = {protocol::kPipeStatus, 0, 0, 0};
    uint8_t status[protocol::kPacketSize] = {};
    uint32_t returned = 77;
    EXPECT_EQ(backend_.request(file, protocol::kBulkRead, pipeWord, 4, status, sizeof status, &returned), 0);
    EXPECT_EQ(returned, 0u);
    returned = 77;
    EXPECT_EQ(backend_.request(file, protocol::kGetDeviceCount, nullptr, 4, nullptr, 0, &returned), 0)
        << "a null buffer with a length never reaches the OS";
    EXPECT_EQ(returned, 77u);

    EXPECT_TRUE(backend_.close(file));
    EXPECT_FALSE(backend_.close(file)) << "closed already";
}

// A steady run of requests makes no kernel object per request: each request
// takes an event kept from an earlier one, from several threads at once too.
TEST_F(Win32CardBackendTest, RequestsReuseTheirEvents) {
    TempDir dir;
    const HANDLE handle = CreateFileA(dir.file("not-a-driver").c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    auto *file = reinterpret_cast<platform::BackendFile *>(handle);
    auto requests = [&](int count) {
        uint8_t pipeWord[4] = {protocol::kPipeStatus, 0, 0, 0};
        uint8_t status[protocol::kPacketSize];
        uint32_t returned = 0;
        for (int n = 0; n < count; ++n)
            backend_.request(file, protocol::kBulkRead, pipeWord, 4, status, sizeof status, &returned);
    };
    std::atomic<bool> go{false};
    std::thread other([&] { // made first: making a thread makes events of its own
        while (!go.load())
            std::this_thread::yield();
        requests(500);
    });
    requests(1); // the first request makes the first event

    const EventsMade made;
    ASSERT_TRUE(made.watching()) << "the program imports no event constructor";
    go.store(true);
    requests(500);
    other.join();
    EXPECT_LE(made.count(), 1) << "events made for 1000 requests, at most two at a time";
    EXPECT_TRUE(backend_.close(file));
}

} // namespace
} // namespace kvd::testing
