// The rules a test sets on a virtual card: failures, results, short returns.
#include <gtest/gtest.h>

#include <vector>

#include "card_model/driver_protocol.h"
#include "platform/virtual/virtual_card.h"

namespace kvd::vcard {
namespace {

namespace proto = kvd::protocol;
using Bytes = std::vector<uint8_t>;

// Makes requests on card 0 of three installed cards.
class VirtualCardRulesTest : public ::testing::Test {
protected:
    void SetUp() override {
        install({7, 9, 5});
        uint32_t status = 0;
        file_ = backend().open(0, &status);
        ASSERT_NE(file_, nullptr);
    }
    void TearDown() override {
        EXPECT_TRUE(backend().close(file_));
        uninstall();
    }

    int32_t bulk(uint32_t code, uint32_t pipe, Bytes &data, uint32_t *returned) {
        uint8_t word[4];
        proto::putPipeWord(word, pipe);
        return backend().request(file_, code, word, 4, data.data(), static_cast<uint32_t>(data.size()), returned);
    }
    int32_t setDo(uint8_t low, uint32_t *returned = nullptr) {
        Bytes packet(512, 0);
        packet[0] = proto::kCmdSetDo;
        packet[1] = low;
        uint32_t ignored = 0;
        return bulk(proto::kBulkWrite, proto::kPipeCommand, packet, returned ? returned : &ignored);
    }
    int32_t adCommand(Bytes head) {
        head.resize(512, 0);
        uint32_t ignored = 0;
        return bulk(proto::kBulkWrite, proto::kPipeAdCommand, head, &ignored);
    }
    int32_t plain(uint32_t code) {
        uint32_t returned = 0;
        return backend().request(file_, code, nullptr, 0, nullptr, 0, &returned);
    }
    std::vector<int32_t> results() const {
        std::vector<int32_t> results;
        for (const Request &request : card(0).requests())
            results.push_back(request.result);
        return results;
    }

    platform::BackendFile *file_ = nullptr;
};

TEST_F(VirtualCardRulesTest, FailsTheNthMatchingRequestOnce) {
    card(0).failRequest({proto::kBulkWrite, 1}, 2);
    plain(proto::kUsbReset); // does not match: not counted
    EXPECT_EQ(setDo(0x01), 1);
    uint32_t returned = 0xFFFF;
    EXPECT_EQ(setDo(0x02, &returned), 0);
    EXPECT_EQ(returned, 0u);
    EXPECT_EQ(card(0).doLines(), 0x01); // the failed packet changed nothing
    EXPECT_EQ(setDo(0x03), 1);
    EXPECT_EQ(setDo(0x04), 1);
    EXPECT_EQ(card(0).doLines(), 0x04);
    EXPECT_EQ(results(), (std::vector<int32_t>{1, 1, 0, 1, 1}));
    EXPECT_EQ(card(0).requests()[2].returned, 0u);
}

TEST_F(VirtualCardRulesTest, NthZeroFailsEveryMatchingRequest) {
    card(0).failRequest({proto::kCreateLowFile, -1}, 0);
    EXPECT_EQ(plain(proto::kCreateLowFile), 0);
    EXPECT_EQ(plain(proto::kCloseLowFile), 1);
    EXPECT_EQ(plain(proto::kCreateLowFile), 0);
    card(0).clearRules();
    EXPECT_EQ(plain(proto::kCreateLowFile), 1);
}

TEST_F(VirtualCardRulesTest, PipeMatchSparesOtherPipes) {
    card(0).failRequest({proto::kBulkWrite, 0}, 0);
    EXPECT_EQ(setDo(0x05), 1);
    EXPECT_EQ(adCommand({proto::kCmdAdRun, 1}), 0);
    EXPECT_FALSE(card(0).running());
    EXPECT_EQ(card(0).doLines(), 0x05);
}

TEST_F(VirtualCardRulesTest, SeveralFailureRulesCountIndependently) {
    card(0).failRequest({proto::kUsbReset, -1}, 1);
    card(0).failRequest({proto::kUsbReset, -1}, 3);
    for (int i = 0; i < 4; ++i)
        plain(proto::kUsbReset);
    EXPECT_EQ(results(), (std::vector<int32_t>{0, 1, 0, 1}));
}

TEST_F(VirtualCardRulesTest, FailedSampleReadDeliversNothingAndKeepsTheStream) {
    adCommand({proto::kCmdAdRun, 1});
    card(0).failRequest({proto::kBulkRead, 2}, 1);
    Bytes data(4, 0xEE);
    uint32_t returned = 0xFFFF;
    EXPECT_EQ(bulk(proto::kBulkRead, proto::kPipeAdData, data, &returned), 0);
    EXPECT_EQ(returned, 0u);
    EXPECT_EQ(data, Bytes(4, 0xEE));
    EXPECT_EQ(bulk(proto::kBulkRead, proto::kPipeAdData, data, &returned), 1);
    EXPECT_EQ(data, (Bytes{0x00, 0x00, 0x01, 0x00}));
}

TEST_F(VirtualCardRulesTest, ResultOverrideAppliesToSuccessesOnly) {
    card(0).setRequestResult({proto::kCreateLowFile, -1}, 7);
    EXPECT_EQ(plain(proto::kCreateLowFile), 7);
    EXPECT_EQ(plain(proto::kCloseLowFile), 1);
    card(0).setRequestResult({proto::kCreateLowFile, -1}, -3); // replaces 7
    EXPECT_EQ(plain(proto::kCreateLowFile), -3);
    card(0).failRequest({proto::kCreateLowFile, -1}, 1);
    EXPECT_EQ(plain(proto::kCreateLowFile), 0);
    card(0).setRequestResult({proto::kCreateLowFile, -1}, 1);
    EXPECT_EQ(plain(proto::kCreateLowFile), 1);
    EXPECT_EQ(results(), (std::vector<int32_t>{7, 1, -3, 0, 1}));
}

TEST_F(VirtualCardRulesTest, ShortReturnsCapReportedAndDeliveredBytes) {
    card(0).shortenReturns({proto::kBulkRead, 3}, 20);
    Bytes status(512, 0xEE);
    uint32_t returned = 0;
    EXPECT_EQ(bulk(proto::kBulkRead, proto::kPipeStatus, status, &returned), 1);
    EXPECT_EQ(returned, 20u);
    EXPECT_EQ(status[17], 7);
    EXPECT_EQ(status[20], 0xEE);

    card(0).shortenReturns({proto::kBulkRead, 2}, 3);
    adCommand({proto::kCmdAdRun, 1});
    Bytes data(8, 0xEE);
    EXPECT_EQ(bulk(proto::kBulkRead, proto::kPipeAdData, data, &returned), 1);
    EXPECT_EQ(returned, 3u);
    EXPECT_EQ(data, (Bytes{0x00, 0x00, 0x01, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}));
    card(0).clearRules();
    EXPECT_EQ(bulk(proto::kBulkRead, proto::kPipeAdData, data, &returned), 1);
    EXPECT_EQ(returned, 8u);
    EXPECT_EQ(data, (Bytes{0x02, 0x00, 0x03, 0x00, 0x04, 0x00, 0x05, 0x00}));
}

TEST_F(VirtualCardRulesTest, ShortWriteStillTakesThePacket) {
    card(0).shortenReturns({proto::kBulkWrite, -1}, 0);
    uint32_t returned = 0xFFFF;
    EXPECT_EQ(setDo(0x81, &returned), 1);
    EXPECT_EQ(returned, 0u);
    EXPECT_EQ(card(0).doLines(), 0x81);
}

TEST_F(VirtualCardRulesTest, ShortIdentityAnswerWritesOnlyTheReportedBytes) {
    card(0).shortenReturns({proto::kGetDeviceCount, -1}, 1);
    uint8_t answer[4] = {0xAA, 0xBB, 0xCC, 0xDD};
    uint32_t returned = 0;
    EXPECT_EQ(backend().request(file_, proto::kGetDeviceCount, answer, 4, nullptr, 0, &returned), 1);
    EXPECT_EQ(returned, 1u);
    EXPECT_EQ(Bytes(answer, answer + 4), (Bytes{3, 0xBB, 0xCC, 0xDD}));
}

TEST_F(VirtualCardRulesTest, ConcurrentRequestsAreAllRecorded) {
    constexpr int kThreads = 4;
    constexpr int kRequestsEach = 200;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([this, t] {
            for (int i = 0; i < kRequestsEach; ++i) {
                setDo(static_cast<uint8_t>(t));
                Bytes status(512);
                uint32_t returned = 0;
                bulk(proto::kBulkRead, proto::kPipeStatus, status, &returned);
            }
        });
    for (std::thread &thread : threads)
        thread.join();
    const std::vector<Request> requests = card(0).requests();
    EXPECT_EQ(requests.size(), size_t{2 * kThreads * kRequestsEach});
    for (const Request &request : requests)
        ASSERT_EQ(request.result, 1);
}

} // namespace
} // namespace kvd::vcard
