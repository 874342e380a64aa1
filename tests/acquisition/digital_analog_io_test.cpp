// DA words, digital outputs and inputs: bytes on the wire, narrowing, failures.
#include <gtest/gtest.h>

#include "core/messages.h"
#include "card_model/driver_protocol.h"
#include "support/test_support.h"

namespace kvd::testing {
namespace {

namespace protocol = kvd::protocol;

class DigitalAnalogIoTest : public VirtualCardTest {
protected:
    void SetUp() override {
        install({7});
        handle_ = openRecord(0);
    }
    vcard::Card &card() { return vcard::card(0); }
    std::vector<std::string> commands(size_t defined) {
        std::vector<std::string> shown;
        for (const auto &request : requestsOf(card(), protocol::kBulkWrite, 1)) {
            EXPECT_EQ(request.asked, 512u);
            shown.push_back(hexBytes(request.sent, defined));
        }
        return shown;
    }
    KVD4093_HANDLE handle_ = nullptr;
};

TEST_F(DigitalAnalogIoTest, DaSendsSetupWordThenValueWord) {
    struct Case {
        int32_t setup, value, channel;
        std::vector<std::string> packets;
    };
    const Case cases[] = {
        {4, 0xABC, 2, {"01 04 00 0a", "01 c0 ab 02"}},
        {12, 4096, 9, {"01 04 00 09", "01 00 00 01"}},
        {7, 0xFFF, 7, {"01 07 00 0f", "01 f0 ff 07"}},
        {-1, -1, -1, {"01 07 00 0f", "01 f0 ff 07"}},
    };
    for (const Case &c : cases) {
        card().clearRequests();
        EXPECT_EQ(KVD4093_WriteDeviceDA(handle_, c.setup, c.value, c.channel), 1);
        EXPECT_EQ(commands(4), c.packets) << c.setup << " " << c.value << " " << c.channel;
    }
    EXPECT_EQ(card().daValue(7), 0xFFF);
}

TEST_F(DigitalAnalogIoTest, DaFailures) {
    const LogEntry daFailed{"KVD4093_WriteDeviceDA", text::kDeviceHandleInvalid, "1(Dec)"};
    const size_t before = errorLogStrings();
    EXPECT_EQ(KVD4093_WriteDeviceDA(nullptr, 4, 1, 2), 0);
    EXPECT_EQ(KVD4093_WriteDeviceDA(KVD4093_INVALID_HANDLE, 4, 1, 2), 0);
    EXPECT_TRUE(entriesSince(before).empty());
    for (uint32_t failing : {1u, 2u}) {
        card().clearRequests();
        card().failRequest({protocol::kBulkWrite, 1}, failing);
        const size_t start = errorLogStrings();
        EXPECT_EQ(KVD4093_WriteDeviceDA(handle_, 4, 1, 2), 0);
        EXPECT_EQ(entriesSince(start), std::vector<LogEntry>{daFailed});
        EXPECT_EQ(requestsOf(card(), protocol::kBulkWrite, 1).size(), failing); // no value word after a failed setup
    }
}

TEST_F(DigitalAnalogIoTest, DoTakesBitZeroOfEachElement) {
    struct Case {
        std::vector<uint8_t> states;
        const char *packet;
    };
    const Case cases[] = {
        {std::vector<uint8_t>(16, 1), "03 ff ff"},
        {std::vector<uint8_t>(16, 2), "03 00 00"},
        {std::vector<uint8_t>(16, 3), "03 ff ff"},
        {{1, 0, 1, 0, 0, 1, 0, 1, 0, 0, 1, 1, 1, 1, 0, 0}, "03 a5 3c"},
    };
    for (const Case &c : cases) {
        card().clearRequests();
        EXPECT_EQ(KVD4093_SetDeviceDO(handle_, c.states.data()), 1);
        EXPECT_EQ(commands(3), std::vector<std::string>{c.packet});
    }
    EXPECT_EQ(card().doLines(), 0x3CA5);
}

TEST_F(DigitalAnalogIoTest, DoFailureIncludingInvalidHandleLogsOnce) {
    const uint8_t states[16] = {1};
    const LogEntry doFailed{"KVD4093_SetDeviceDO", text::kDeviceHandleInvalid, "1(Dec)"};
    size_t before = errorLogStrings();
    EXPECT_EQ(KVD4093_SetDeviceDO(nullptr, states), 0);
    EXPECT_EQ(entriesSince(before), std::vector<LogEntry>{doFailed});
    before = errorLogStrings();
    card().failRequest({protocol::kBulkWrite, 1}, 1);
    EXPECT_EQ(KVD4093_SetDeviceDO(handle_, states), 0);
    EXPECT_EQ(entriesSince(before), std::vector<LogEntry>{doFailed});
}

TEST_F(DigitalAnalogIoTest, DiSpreadsTheTwoStatusBytes) {
    card().setStatusByte(0, 0xA5);
    card().setStatusByte(1, 0x3C);
    uint8_t states[16];
    EXPECT_EQ(KVD4093_GetDeviceDI(handle_, states), 1);
    const std::vector<uint8_t> expected = {1, 0, 1, 0, 0, 1, 0, 1, 0, 0, 1, 1, 1, 1, 0, 0};
    EXPECT_EQ(std::vector<uint8_t>(states, states + 16), expected);
    const auto reads = requestsOf(card(), protocol::kBulkRead, 3);
    ASSERT_EQ(reads.size(), 1u);
    EXPECT_EQ(reads[0].asked, 512u);
}

TEST_F(DigitalAnalogIoTest, DiFailureLeavesTheArrayAndLogsNothing) {
    uint8_t states[16];
    std::fill(std::begin(states), std::end(states), 7);
    const size_t before = errorLogStrings();
    EXPECT_EQ(KVD4093_GetDeviceDI(nullptr, states), 0);
    card().failRequest({protocol::kBulkRead, 3}, 1);
    EXPECT_EQ(KVD4093_GetDeviceDI(handle_, states), 0);
    EXPECT_EQ(std::vector<uint8_t>(states, states + 16), std::vector<uint8_t>(16, 7));
    EXPECT_TRUE(entriesSince(before).empty());
}

TEST_F(DigitalAnalogIoTest, OutputsLoopBackToInputs) {
    const uint8_t out[16] = {0, 1, 1, 0, 0, 0, 0, 1, 1, 0, 0, 0, 0, 0, 0, 1};
    uint8_t in[16] = {};
    ASSERT_EQ(KVD4093_SetDeviceDO(handle_, out), 1);
    ASSERT_EQ(KVD4093_GetDeviceDI(handle_, in), 1);
    EXPECT_EQ(std::vector<uint8_t>(in, in + 16), std::vector<uint8_t>(out, out + 16));
}

} // namespace
} // namespace kvd::testing
