// The transport exports: handle test, request framing, results, the reset box.
#include <functional>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "device/device_object.h"
#include "device/transport.h"
#include "core/messages.h"
#include "card_model/driver_protocol.h"
#include "support/test_support.h"

namespace kvd::testing {
namespace {

namespace protocol = kvd::protocol;
using Export = std::function<int32_t(KVD4093_HANDLE)>;

// Every transport export, called with a handle and harmless arguments.
std::vector<std::pair<const char *, Export>> transportExports() {
    static uint8_t buffer[512];
    static uint32_t count;
    return {
        {"BulkRead", [](KVD4093_HANDLE h) { return BulkRead(h, 3, buffer, 512, &count); }},
        {"BulkWrite", [](KVD4093_HANDLE h) { return BulkWrite(h, 1, buffer, 512, &count); }},
        {"SetInterface", [](KVD4093_HANDLE h) { return SetInterface(h, 0x0100); }},
        {"USB_Reset", [](KVD4093_HANDLE h) { return USB_Reset(h); }},
        {"KVD4093_ResetDevice", [](KVD4093_HANDLE h) { return KVD4093_ResetDevice(h); }},
        {"KVD4093_CreateLowFile", [](KVD4093_HANDLE h) { return KVD4093_CreateLowFile(h); }},
        {"KVD4093_CloseLowFile", [](KVD4093_HANDLE h) { return KVD4093_CloseLowFile(h); }},
    };
}

class TransportTest : public VirtualCardTest {};

TEST_F(TransportTest, DeadHandlesMakeNoRequestNoLogEntryNoBox) {
    install({7});
    vcard::card(0).failRequest({protocol::kUsbReset, -1}, 0); // a reset that got through would show a box
    // A record the library never handed out, magic word and all.
    device::DeviceObject forged;
    forged.hDriverFile = {&vcard::backend(), nullptr, 0};
    // A record that was handed out and then taken back.
    KVD4093_HANDLE released = openRecord(0);
    ASSERT_NE(device::liveDevice(released), nullptr);
    device::discardDevice(released);
    uint32_t notMagic[32] = {0x12345678};

    const std::vector<std::pair<const char *, KVD4093_HANDLE>> deadHandles = {
        {"null", nullptr},
        {"-1", KVD4093_INVALID_HANDLE},
        {"wrong magic", notMagic},
        {"never issued", &forged},
        {"released", released},
    };
    const size_t logBefore = errorLogStrings();
    for (const auto &[handleName, handle] : deadHandles)
        for (const auto &[exportName, call] : transportExports())
            EXPECT_EQ(call(handle), 0) << exportName << " with a " << handleName << " handle";
    EXPECT_TRUE(vcard::card(0).requests().empty());
    EXPECT_EQ(errorLogStrings(), logBefore);
    EXPECT_TRUE(messages_.messages().empty());
}

TEST_F(TransportTest, SetInterfaceSendsOnlyTheTwoLowBytes) {
    install({7});
    KVD4093_HANDLE handle = openRecord(0);
    EXPECT_EQ(SetInterface(handle, 0xABCD0100u), 1);
    const auto sent = requestsOf(vcard::card(0), protocol::kSetInterface);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(hexBytes(sent[0].sent), "00 01");
}

TEST_F(TransportTest, BulkWriteDeliversTheBufferOnTheGivenPipe) {
    install({7});
    KVD4093_HANDLE handle = openRecord(0);
    uint8_t packet[512] = {0x03, 0xA5, 0x3C};
    uint32_t written = 0;
    EXPECT_EQ(BulkWrite(handle, 1, packet, 512, &written), 1);
    EXPECT_EQ(written, 512u);
    const auto writes = requestsOf(vcard::card(0), protocol::kBulkWrite, 1);
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].sent.size(), 512u);
    EXPECT_EQ(hexBytes(writes[0].sent, 3), "03 a5 3c");
}

TEST_F(TransportTest, BulkReadSucceedsWithAShortCount) {
    install({9});
    KVD4093_HANDLE handle = openRecord(0);
    vcard::card(0).shortenReturns({protocol::kBulkRead, 3}, 100);
    uint8_t status[512] = {};
    uint32_t count = 0;
    EXPECT_EQ(BulkRead(handle, 3, status, 512, &count), 1);
    EXPECT_EQ(count, 100u);
    vcard::card(0).clearRules();
    EXPECT_EQ(BulkRead(handle, 3, status, 512, &count), 1);
    EXPECT_EQ(count, 512u);
    EXPECT_EQ(status[protocol::kStatusPhysicalId], 9);
}

TEST_F(TransportTest, FailedBulkRequestsReturnZeroSilently) {
    install({7});
    KVD4093_HANDLE handle = openRecord(0);
    vcard::card(0).failRequest({protocol::kBulkRead, -1}, 0);
    vcard::card(0).failRequest({protocol::kBulkWrite, -1}, 0);
    const size_t logBefore = errorLogStrings();
    uint8_t buffer[512] = {};
    uint32_t count = 0;
    EXPECT_EQ(BulkRead(handle, 3, buffer, 512, &count), 0);
    EXPECT_EQ(BulkWrite(handle, 1, buffer, 512, &count), 0);
    EXPECT_EQ(errorLogStrings(), logBefore);
    EXPECT_TRUE(messages_.messages().empty());
}

TEST_F(TransportTest, OnlyExactlyOneCountsAsBulkSuccess) {
    install({7});
    KVD4093_HANDLE handle = openRecord(0);
    vcard::card(0).setRequestResult({protocol::kBulkWrite, -1}, 2);
    uint8_t buffer[512] = {};
    uint32_t count = 0;
    EXPECT_EQ(BulkWrite(handle, 1, buffer, 512, &count), 0);
}

TEST_F(TransportTest, FailedResetShowsItsBoxOnceAndReturnsZero) {
    install({7});
    KVD4093_HANDLE handle = openRecord(0);
    EXPECT_EQ(USB_Reset(handle), 1);
    EXPECT_TRUE(messages_.messages().empty());

    vcard::card(0).failRequest({protocol::kUsbReset, -1}, 0);
    const size_t logBefore = errorLogStrings();
    EXPECT_EQ(USB_Reset(handle), 0);
    auto boxes = messages_.messages();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, " \xb8\xb4\xce\xbbUSB\xb6\xcb\xbf\xda\xca\xa7\xb0\xdc"); // " 复位USB端口失败"
    EXPECT_EQ(boxes[0].text, text::kUsbResetFailed);
    EXPECT_EQ(boxes[0].style, 0u);

    EXPECT_EQ(KVD4093_ResetDevice(handle), 0);
    EXPECT_EQ(messages_.messages().size(), 2u);
    EXPECT_EQ(errorLogStrings(), logBefore);
    EXPECT_EQ(requestsOf(vcard::card(0), protocol::kUsbReset).size(), 3u);
}

TEST_F(TransportTest, LowFileRequestsPassTheirResultOnUnchanged) {
    install({7});
    KVD4093_HANDLE handle = openRecord(0);
    EXPECT_EQ(KVD4093_CreateLowFile(handle), 1);
    vcard::card(0).setRequestResult({protocol::kCreateLowFile, -1}, 7);
    vcard::card(0).setRequestResult({protocol::kCloseLowFile, -1}, -3);
    EXPECT_EQ(KVD4093_CreateLowFile(handle), 7);
    EXPECT_EQ(KVD4093_CloseLowFile(handle), -3);
    vcard::card(0).failRequest({protocol::kCloseLowFile, -1}, 1);
    EXPECT_EQ(KVD4093_CloseLowFile(handle), 0);
}

} // namespace
} // namespace kvd::testing
