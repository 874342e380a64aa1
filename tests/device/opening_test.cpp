// Opening cards by logical number and by physical ID, identity and release.
#include <functional>

#include <gtest/gtest.h>

#include "device/device_object.h"
#include "core/messages.h"
#include "card_model/driver_protocol.h"
#include "support/test_support.h"

namespace kvd::testing {
namespace {

namespace protocol = kvd::protocol;

const LogEntry kNoDriver{"KVD4093_CreateDevice", text::kNoDeviceDriver, "1(Dec)"};

LogEntry missingId(int id) {
    char message[64];
    std::snprintf(message, sizeof message, text::kPhysicalIdMissingFormat, id);
    return {"KVD4093_CreateDeviceEx", message, "1(Dec)"};
}

class OpeningTest : public VirtualCardTest {
protected:
    // Releases a handle through the export and checks it went.
    void release(KVD4093_HANDLE handle) { EXPECT_EQ(KVD4093_ReleaseDevice(handle), 1); }
};

TEST_F(OpeningTest, NoCardGivesMinusOneAndOneEnglishEntry) {
    install({});
    const size_t before = errorLogStrings();
    EXPECT_EQ(KVD4093_CreateDevice(0), KVD4093_INVALID_HANDLE);
    EXPECT_EQ(entriesSince(before), std::vector<LogEntry>{kNoDriver});
    EXPECT_EQ(std::string(text::kNoDeviceDriver), "Sorry, there are no device drivers found in your system");
}

TEST_F(OpeningTest, OpenSendsTheOpenPacketOncePerOpen) {
    install({7});
    KVD4093_HANDLE first = KVD4093_CreateDevice(0);
    KVD4093_HANDLE second = KVD4093_CreateDevice(0);
    ASSERT_NE(first, KVD4093_INVALID_HANDLE);
    ASSERT_NE(second, KVD4093_INVALID_HANDLE);
    EXPECT_NE(first, second); // two records, two driver files
    EXPECT_EQ(vcard::card(0).openFiles(), 2);
    const auto requests = vcard::card(0).requests();
    ASSERT_EQ(requests.size(), 2u); // the open packet and nothing else, no interface selection
    for (const auto &request : requests) {
        EXPECT_EQ(request.code, protocol::kBulkWrite);
        EXPECT_EQ(request.pipe, 1);
        EXPECT_EQ(request.asked, 512u);
        EXPECT_EQ(hexBytes(request.sent, 4), "01 1f 00 10");
    }
    release(first);
    release(second);
    EXPECT_EQ(vcard::card(0).openFiles(), 0);
}

TEST_F(OpeningTest, RefusedOpenPacketGivesNullLogsUnderTheDaNameAndLeaksNothing) {
    install({7});
    vcard::card(0).failRequest({protocol::kBulkWrite, 1}, 1);
    const size_t before = errorLogStrings();
    EXPECT_EQ(KVD4093_CreateDevice(0), nullptr);
    EXPECT_EQ(entriesSince(before),
              std::vector<LogEntry>({{"KVD4093_WriteDeviceDA", text::kDeviceHandleInvalid, "1(Dec)"}}));
    EXPECT_EQ(vcard::card(0).openFiles(), 0);
}

TEST_F(OpeningTest, SearchByPhysicalIdReleasesTheOthersAndSelectsTheMatch) {
    install({7, 9, 5});
    const size_t before = errorLogStrings();
    KVD4093_HANDLE handle = KVD4093_CreateDeviceEx(5);
    ASSERT_NE(handle, KVD4093_INVALID_HANDLE);
    EXPECT_TRUE(entriesSince(before).empty());
    for (int n = 0; n < 2; ++n) {
        EXPECT_EQ(vcard::card(n).openFiles(), 0) << n;
        EXPECT_EQ(requestsOf(vcard::card(n), protocol::kBulkRead, 3).size(), 2u) << n;
        EXPECT_TRUE(requestsOf(vcard::card(n), protocol::kSetInterface).empty()) << n;
    }
    const auto requests = vcard::card(2).requests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(hexBytes(requests[0].sent, 4), "01 1f 00 10");
    EXPECT_EQ(requests[1].pipe, 3);
    EXPECT_EQ(requests[2].pipe, 3);
    EXPECT_EQ(requests[3].code, protocol::kSetInterface);
    EXPECT_EQ(hexBytes(requests[3].sent), "00 01");
    int32_t logical = -1, physical = -1;
    EXPECT_EQ(KVD4093_GetDeviceCurrentID(handle, &logical, &physical), 1);
    EXPECT_EQ(logical, 2);
    EXPECT_EQ(physical, 5);
    release(handle);
}

TEST_F(OpeningTest, MissingIdTriesAllThirtyTwoNumbers) {
    install({3});
    const size_t before = errorLogStrings();
    EXPECT_EQ(KVD4093_CreateDeviceEx(4), KVD4093_INVALID_HANDLE);
    std::vector<LogEntry> expected(31, kNoDriver);
    expected.push_back(missingId(4));
    EXPECT_EQ(entriesSince(before), expected);
    EXPECT_EQ(vcard::card(0).openFiles(), 0);
}

TEST_F(OpeningTest, SixteenSelectsAFirstCardWithIdFifteen) {
    install({15, 16});
    const size_t before = errorLogStrings();
    KVD4093_HANDLE handle = KVD4093_CreateDeviceEx(16);
    ASSERT_NE(handle, KVD4093_INVALID_HANDLE);
    EXPECT_TRUE(entriesSince(before).empty());
    EXPECT_EQ(requestsOf(vcard::card(0), protocol::kSetInterface).size(), 1u);
    EXPECT_TRUE(vcard::card(1).requests().empty());
    release(handle);
}

TEST_F(OpeningTest, IdsOfSixteenAndAboveStopAtTheFirstCard) {
    struct Case {
        std::vector<uint8_t> cards;
        int32_t wanted;
    };
    // The first card decides: any ID but 15 fails 16, and nothing ever gives 20.
    const Case cases[] = {{{7, 16}, 16}, {{16}, 16}, {{15, 20}, 20}, {{20}, 20}, {{3, 20}, 20}};
    for (const Case &c : cases) {
        install(c.cards);
        const size_t before = errorLogStrings();
        EXPECT_EQ(KVD4093_CreateDeviceEx(c.wanted), KVD4093_INVALID_HANDLE) << c.wanted;
        EXPECT_EQ(entriesSince(before), std::vector<LogEntry>{missingId(c.wanted)}) << c.wanted;
        EXPECT_EQ(vcard::card(0).openFiles(), 0);
        if (c.cards.size() > 1) {
            EXPECT_TRUE(vcard::card(1).requests().empty()) << "no further number is tried";
        }
    }
}

// For 16 and above the first card that opens decides even when its ID cannot
// be read, or it did not take its open packet (its ID read then fails too):
// it is released and the search fails, though a card with ID 15 follows.
TEST_F(OpeningTest, IdsOfSixteenAndAboveStopAtAFirstCardWhoseIdCannotBeRead) {
    struct Case {
        const char *what;
        vcard::RequestMatch failing;
        int32_t wanted;
    };
    const Case cases[] = {
        {"status read fails", {protocol::kBulkRead, 3}, 16},
        {"status read fails", {protocol::kBulkRead, 3}, 20},
        {"open packet refused", {protocol::kBulkWrite, 1}, 16},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        install({7, 15});
        vcard::card(0).failRequest(c.failing, 0);
        const size_t before = errorLogStrings();
        EXPECT_EQ(KVD4093_CreateDeviceEx(c.wanted), KVD4093_INVALID_HANDLE) << c.wanted;
        const std::vector<LogEntry> entries = entriesSince(before);
        ASSERT_FALSE(entries.empty());
        EXPECT_EQ(entries.back(), missingId(c.wanted));
        EXPECT_TRUE(vcard::card(1).requests().empty()) << "no further number is tried";
        EXPECT_EQ(vcard::card(0).openFiles(), 0);
    }
}

// When a record no caller has seen cannot be closed, it stays live, with its
// driver file, as a handle whose release failed does: nothing is lost.
TEST_F(OpeningTest, ARecordNoCallerHasSeenStaysLiveWhenItsFileWillNotClose) {
    struct Case {
        const char *what;
        vcard::RequestMatch failing;
        std::function<KVD4093_HANDLE()> open;
        KVD4093_HANDLE returned;
    };
    const Case cases[] = {
        {"open packet refused", {protocol::kBulkWrite, 1}, [] { return KVD4093_CreateDevice(0); }, nullptr},
        {"interface selection failed", {protocol::kSetInterface, -1}, [] { return KVD4093_CreateDeviceEx(5); },
         KVD4093_INVALID_HANDLE},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        install({5});
        vcard::card(0).failRequest(c.failing, 0);
        vcard::card(0).failClose(true);
        const size_t live = device::liveDeviceCount();
        EXPECT_EQ(c.open(), c.returned);
        EXPECT_EQ(vcard::card(0).openFiles(), 1);
        EXPECT_EQ(device::liveDeviceCount(), live + 1) << "the record is kept where the library finds it";
    }
}

TEST_F(OpeningTest, FailedInterfaceSelectionLogsCodeTwoAndLeaksNothing) {
    install({5});
    vcard::card(0).failRequest({protocol::kSetInterface, -1}, 0);
    const size_t before = errorLogStrings();
    EXPECT_EQ(KVD4093_CreateDeviceEx(5), KVD4093_INVALID_HANDLE);
    EXPECT_EQ(entriesSince(before),
              std::vector<LogEntry>({{"KVD4093_CreateDeviceEx", text::kUsbDeviceInvalid, "2(Dec)"}}));
    EXPECT_EQ(vcard::card(0).openFiles(), 0);
}

TEST_F(OpeningTest, CurrentIdWithNullOutPointersWritesNothing) {
    install({3});
    KVD4093_HANDLE handle = KVD4093_CreateDevice(0);
    EXPECT_EQ(KVD4093_GetDeviceCurrentID(handle, nullptr, nullptr), 1);
    release(handle);
}

TEST_F(OpeningTest, CurrentIdFailures) {
    install({3});
    KVD4093_HANDLE handle = KVD4093_CreateDevice(0);
    int32_t logical = -5, physical = -5;
    // A failed status read: the logical number stays written, no entry.
    vcard::card(0).failRequest({protocol::kBulkRead, 3}, 2);
    size_t before = errorLogStrings();
    EXPECT_EQ(KVD4093_GetDeviceCurrentID(handle, &logical, &physical), 0);
    EXPECT_EQ(logical, 0);
    EXPECT_EQ(physical, -5);
    EXPECT_TRUE(entriesSince(before).empty());
    // A failed identity request: nothing written, one entry.
    logical = -5;
    vcard::card(0).failRequest({protocol::kGetCurrentId, -1}, 1);
    EXPECT_EQ(KVD4093_GetDeviceCurrentID(handle, &logical, &physical), 0);
    EXPECT_EQ(logical, -5);
    EXPECT_EQ(entriesSince(before),
              std::vector<LogEntry>({{"KVD4093_GetDeviceCurrentID", text::kDeviceHandleInvalid, "1(Dec)"}}));
    release(handle);
}

TEST_F(OpeningTest, VersionWordAndSecondWord) {
    install({3});
    KVD4093_HANDLE handle = KVD4093_CreateDevice(0);
    vcard::card(0).setStatusByte(18, 0x03);
    vcard::card(0).setStatusByte(19, 0x02);
    vcard::card(0).setStatusByte(20, 0x01);
    uint32_t version = 0, second = 0;
    EXPECT_EQ(KVD4093_GetDevVersion(handle, &version, &second), 1);
    EXPECT_EQ(version, 0x00010203u);
    EXPECT_EQ(second, 0x06000000u);
    EXPECT_EQ(KVD4093_GetDevVersion(handle, nullptr, nullptr), 1);
    vcard::card(0).failRequest({protocol::kBulkRead, 3}, 1);
    const size_t before = errorLogStrings();
    version = 7;
    EXPECT_EQ(KVD4093_GetDevVersion(handle, &version, &second), 0);
    EXPECT_EQ(version, 7u);
    EXPECT_TRUE(entriesSince(before).empty());
    release(handle);
}

TEST_F(OpeningTest, CountAnswersTheDriversNumberAndLogsAFailure) {
    install({3, 4, 6});
    KVD4093_HANDLE handle = KVD4093_CreateDevice(1);
    EXPECT_EQ(KVD4093_GetDeviceCount(handle), 3);
    vcard::card(1).failRequest({protocol::kGetDeviceCount, -1}, 1);
    const size_t before = errorLogStrings();
    EXPECT_EQ(KVD4093_GetDeviceCount(handle), 0);
    EXPECT_EQ(entriesSince(before),
              std::vector<LogEntry>({{"KVD4093_GetDeviceCount", text::kDeviceHandleInvalid, "1(Dec)"}}));
    release(handle);
}

TEST_F(OpeningTest, ReleaseRefusesDeadHandlesAndKeepsAHandleWhoseCloseFails) {
    install({3});
    const size_t before = errorLogStrings();
    EXPECT_EQ(KVD4093_ReleaseDevice(nullptr), 0);
    EXPECT_EQ(KVD4093_ReleaseDevice(KVD4093_INVALID_HANDLE), 0);
    EXPECT_TRUE(entriesSince(before).empty());

    KVD4093_HANDLE handle = KVD4093_CreateDevice(0);
    vcard::card(0).failClose(true);
    EXPECT_EQ(KVD4093_ReleaseDevice(handle), 0);
    EXPECT_EQ(entriesSince(before),
              std::vector<LogEntry>({{"KVD4093_ReleaseDevice", text::kDeviceHandleInvalid, "1(Dec)"}}));
    EXPECT_EQ(KVD4093_GetDeviceCount(handle), 1); // still live
    vcard::card(0).failClose(false);
    release(handle);
    EXPECT_EQ(KVD4093_ReleaseDevice(handle), 0); // dead now
}

TEST_F(OpeningTest, ReleaseSendsNothingToTheCard) {
    install({3});
    KVD4093_HANDLE handle = KVD4093_CreateDevice(0);
    vcard::card(0).clearRequests();
    release(handle);
    EXPECT_TRUE(vcard::card(0).requests().empty());
}

} // namespace
} // namespace kvd::testing
