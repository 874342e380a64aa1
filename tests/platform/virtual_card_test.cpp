// The virtual card as the library sees it through the backend ops table, and
// as tests steer it through its control interface.
#include "platform/virtual/virtual_card.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "card_model/driver_protocol.h"

namespace kvd::vcard {
namespace {

using Bytes = std::vector<uint8_t>;
namespace proto = kvd::protocol;

struct Answer {
    int32_t result = -1;
    uint32_t returned = 0xFFFFFFFF;
    Bytes data;
};

// One open driver file of a virtual card, used the way the library uses it.
class Driver {
public:
    explicit Driver(int32_t logicalNumber) {
        uint32_t status = 0xFFFFFFFF;
        file_ = backend().open(logicalNumber, &status);
        EXPECT_NE(file_, nullptr);
        EXPECT_EQ(status, 0u);
    }
    ~Driver() {
        if (file_ != nullptr) {
            EXPECT_TRUE(backend().close(file_));
        }
    }
    Driver(const Driver &) = delete;
    Driver &operator=(const Driver &) = delete;

    platform::BackendFile *file() const { return file_; }

    // A whole 512-byte command packet whose first bytes are `head`.
    Answer write(uint32_t pipe, const Bytes &head) {
        Bytes packet(proto::kPacketSize, 0);
        std::copy(head.begin(), head.end(), packet.begin());
        return bulk(proto::kBulkWrite, pipe, packet);
    }
    Answer read(uint32_t pipe, uint32_t size) { return bulk(proto::kBulkRead, pipe, Bytes(size, 0xEE)); }
    Answer bulk(uint32_t code, uint32_t pipe, Bytes data) {
        uint8_t word[4];
        proto::putPipeWord(word, pipe);
        Answer answer;
        answer.result = backend().request(file_, code, word, 4, data.data(), static_cast<uint32_t>(data.size()),
                                          &answer.returned);
        answer.data = std::move(data);
        return answer;
    }
    // A request whose answer lands in its input buffer (or that has none).
    Answer call(uint32_t code, Bytes input) {
        Answer answer;
        answer.result = backend().request(file_, code, input.empty() ? nullptr : input.data(),
                                          static_cast<uint32_t>(input.size()), nullptr, 0, &answer.returned);
        answer.data = std::move(input);
        return answer;
    }

private:
    platform::BackendFile *file_ = nullptr;
};

const Bytes kStart{proto::kCmdAdRun, 1};
const Bytes kStop{proto::kCmdAdRun, 0};

// Configuration packet scanning channels first to last.
Bytes config(uint8_t first, uint8_t last) { return {proto::kCmdAdConfig, first, last}; }

Bytes samples(std::initializer_list<uint16_t> values) {
    Bytes bytes;
    for (uint16_t value : values) {
        bytes.push_back(static_cast<uint8_t>(value));
        bytes.push_back(static_cast<uint8_t>(value >> 8));
    }
    return bytes;
}

class VirtualCardTest : public ::testing::Test {
protected:
    void SetUp() override { install({7, 9, 5}); }
    void TearDown() override { uninstall(); }
};

TEST_F(VirtualCardTest, InstallPutsCardsInPlaceAndSelectsTheBackend) {
    ASSERT_EQ(cardCount(), 3);
    EXPECT_EQ(card(2).logicalNumber(), 2);
    EXPECT_EQ(card(2).physicalId(), 5);
    EXPECT_EQ(&platform::activeCardBackend(), &backend());
    EXPECT_STREQ(backend().name, "virtual");
    EXPECT_THROW(card(3), std::out_of_range);
}

TEST_F(VirtualCardTest, OpeningANumberWithoutCardFailsWithNoSuchMember) {
    for (int32_t number : {3, 4, -1, INT32_MIN}) {
        SCOPED_TRACE(number);
        uint32_t status = 0;
        EXPECT_EQ(backend().open(number, &status), nullptr);
        EXPECT_EQ(status, 2u);
    }
}

TEST_F(VirtualCardTest, OpenFilesAreCountedAndFailCloseKeepsTheFileOpen) {
    {
        Driver first(0);
        Driver second(0);
        EXPECT_EQ(card(0).openFiles(), 2);
        card(0).failClose(true);
        EXPECT_FALSE(backend().close(first.file()));
        EXPECT_EQ(card(0).openFiles(), 2);
        EXPECT_EQ(first.call(proto::kUsbReset, {}).result, 1); // still usable
        card(0).failClose(false);
    }
    EXPECT_EQ(card(0).openFiles(), 0);
    EXPECT_FALSE(backend().close(nullptr));
}

TEST_F(VirtualCardTest, IdentityRequestsAnswerInTheInputBuffer) {
    struct Case {
        uint32_t code;
        int32_t logicalNumber;
        Bytes answer;
    };
    const Case cases[] = {
        {proto::kGetDeviceCount, 1, {3, 0, 0, 0}},
        {proto::kGetCurrentId, 0, {0, 0, 0, 0}},
        {proto::kGetCurrentId, 2, {2, 0, 0, 0}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(proto::requestName(c.code));
        Driver driver(c.logicalNumber);
        const Answer answer = driver.call(c.code, {0xAA, 0xBB, 0xCC, 0xDD});
        EXPECT_EQ(answer.result, 1);
        EXPECT_EQ(answer.returned, 4u);
        EXPECT_EQ(answer.data, c.answer);
    }
}

TEST_F(VirtualCardTest, RequestsWithoutDataSucceedAndMoveNothing) {
    Driver driver(0);
    for (uint32_t code : {proto::kUsbReset, proto::kCreateLowFile, proto::kCloseLowFile}) {
        SCOPED_TRACE(proto::requestName(code));
        const Answer answer = driver.call(code, {});
        EXPECT_EQ(answer.result, 1);
        EXPECT_EQ(answer.returned, 0u);
    }
    const Answer selected = driver.call(proto::kSetInterface, {0x00, 0x01});
    EXPECT_EQ(selected.result, 1);
    EXPECT_EQ(selected.returned, 0u);
    EXPECT_EQ(card(0).requests().back().sent, (Bytes{0x00, 0x01}));
}

TEST_F(VirtualCardTest, CommandPacketsChangeTheCardsState) {
    Driver driver(1);
    Card &c = card(1);
    EXPECT_EQ(c.daValue(0), -1);
    EXPECT_FALSE(c.running());

    EXPECT_EQ(driver.write(proto::kPipeCommand, {0x01, 0x1F, 0x00, 0x10}).returned, 512u); // open packet
    EXPECT_EQ(c.daValue(0), -1);
    driver.write(proto::kPipeCommand, {0x01, 0x04, 0x00, 0x0A}); // setup word, channel 2
    EXPECT_EQ(c.daValue(2), -1);
    driver.write(proto::kPipeCommand, {0x01, 0xC0, 0xAB, 0x02}); // value word, channel 2
    EXPECT_EQ(c.daValue(2), 0xABC);
    driver.write(proto::kPipeCommand, {0x01, 0x50, 0x00, 0x07}); // value word, channel 7
    EXPECT_EQ(c.daValue(7), 0x005);
    EXPECT_EQ(c.daValue(2), 0xABC);
    EXPECT_EQ(c.daValue(8), -1);

    driver.write(proto::kPipeCommand, {proto::kCmdSetDo, 0xA5, 0x3C});
    EXPECT_EQ(c.doLines(), 0x3CA5);
    driver.write(proto::kPipeCommand, {proto::kCmdTrigLevel, 0x80});
    EXPECT_EQ(c.triggerLevel(), 0x80);

    driver.write(proto::kPipeAdCommand, kStart);
    EXPECT_TRUE(c.running());
    driver.write(proto::kPipeAdCommand, kStop);
    EXPECT_FALSE(c.running());
    // Codes are read per pipe: 03 on pipe 1 sets the DO lines, not the run state.
    driver.write(proto::kPipeCommand, kStart);
    EXPECT_FALSE(c.running());
    EXPECT_EQ(c.doLines(), 0x0001);
    EXPECT_EQ(card(0).doLines(), 0); // other cards are untouched
}

TEST_F(VirtualCardTest, StatusPacketCarriesDiPhysicalIdAndVersion) {
    Driver driver(1);
    Bytes expected(512, 0);
    expected[17] = 9;
    expected[18] = 0x01;
    expected[19] = 0x00;
    expected[20] = 0x01;
    std::fill_n(expected.begin() + kStatusDaValues, 16, 0xFF); // no DA value written yet
    Answer answer = driver.read(proto::kPipeStatus, 512);
    EXPECT_EQ(answer.result, 1);
    EXPECT_EQ(answer.returned, 512u);
    EXPECT_EQ(answer.data, expected);

    driver.write(proto::kPipeCommand, {proto::kCmdSetDo, 0xA5, 0x3C});
    expected[0] = 0xA5;
    expected[1] = 0x3C;
    EXPECT_EQ(driver.read(proto::kPipeStatus, 512).data, expected);

    card(1).setStatusByte(0, 0x11);
    card(1).setStatusByte(20, 0x07);
    card(1).setStatusByte(512, 0x99); // beyond the packet: ignored
    driver.write(proto::kPipeCommand, {proto::kCmdSetDo, 0xFF, 0xFF});
    expected[0] = 0x11;
    expected[1] = 0xFF;
    expected[20] = 0x07;
    EXPECT_EQ(driver.read(proto::kPipeStatus, 512).data, expected);

    // A DA value word for channel 2 (value 0xABC) shows in the channel's two bytes.
    driver.write(proto::kPipeCommand, {proto::kCmdDaWord, 0xC0, 0xAB, 0x02});
    expected[kStatusDaValues + 4] = 0xBC;
    expected[kStatusDaValues + 5] = 0x0A;
    EXPECT_EQ(driver.read(proto::kPipeStatus, 512).data, expected);
}

TEST_F(VirtualCardTest, StatusReadGivesAtMostOnePacket) {
    Driver driver(2);
    struct Case {
        uint32_t asked;
        uint32_t returned;
    };
    for (const Case &c : {Case{20, 20}, Case{0, 0}, Case{600, 512}}) {
        SCOPED_TRACE(c.asked);
        const Answer answer = driver.read(proto::kPipeStatus, c.asked);
        EXPECT_EQ(answer.result, 1);
        EXPECT_EQ(answer.returned, c.returned);
        for (uint32_t i = c.returned; i < c.asked; ++i)
            EXPECT_EQ(answer.data[i], 0xEE) << i;
    }
    EXPECT_EQ(driver.read(proto::kPipeStatus, 20).data[17], 5);
}

TEST_F(VirtualCardTest, SamplesFollowTheScanAcrossReads) {
    Driver driver(0);
    driver.write(proto::kPipeAdCommand, config(1, 3));
    driver.write(proto::kPipeAdCommand, kStart);
    const Answer first = driver.read(proto::kPipeAdData, 8);
    EXPECT_EQ(first.result, 1);
    EXPECT_EQ(first.returned, 8u);
    EXPECT_EQ(first.data, samples({0x1000, 0x2000, 0x3000, 0x1001}));
    EXPECT_EQ(driver.read(proto::kPipeAdData, 6).data, samples({0x2001, 0x3001, 0x1002}));

    // A new start begins again at scan 0.
    driver.write(proto::kPipeAdCommand, kStart);
    EXPECT_EQ(driver.read(proto::kPipeAdData, 4).data, samples({0x1000, 0x2000}));
}

TEST_F(VirtualCardTest, SingleChannelScanAndOddByteCounts) {
    Driver driver(0);
    driver.write(proto::kPipeAdCommand, config(2, 1)); // last below first: channel 2 alone
    driver.write(proto::kPipeAdCommand, kStart);
    const Answer odd = driver.read(proto::kPipeAdData, 5);
    EXPECT_EQ(odd.returned, 5u);
    EXPECT_EQ(odd.data, (Bytes{0x00, 0x20, 0x01, 0x20, 0x02}));
    EXPECT_EQ(driver.read(proto::kPipeAdData, 2).data, samples({0x2003}));
}

TEST_F(VirtualCardTest, ScanCountWrapsAtTwelveBits) {
    Driver driver(0);
    driver.write(proto::kPipeAdCommand, config(0, 0));
    driver.write(proto::kPipeAdCommand, kStart);
    driver.read(proto::kPipeAdData, 2 * 0x0FFF);
    EXPECT_EQ(driver.read(proto::kPipeAdData, 4).data, samples({0x0FFF, 0x0000}));
}

TEST_F(VirtualCardTest, ReadWithoutAcquisitionFailsAfterTheStartWait) {
    Driver driver(0);
    card(0).setStartWait(10);
    const Answer answer = driver.read(proto::kPipeAdData, 8);
    EXPECT_EQ(answer.result, 0);
    EXPECT_EQ(answer.returned, 0u);
    EXPECT_EQ(answer.data, Bytes(8, 0xEE));
}

TEST_F(VirtualCardTest, ReadWaitingForStartGoesOnWhenStarted) {
    Driver reader(0);
    Driver starter(0);
    card(0).setStartWait(60000);
    Answer answer;
    std::thread thread([&] { answer = reader.read(proto::kPipeAdData, 4); });
    // The read is listed once it is inside the card.
    while (card(0).requests().empty())
        std::this_thread::yield();
    starter.write(proto::kPipeAdCommand, kStart);
    thread.join();
    EXPECT_EQ(answer.result, 1);
    EXPECT_EQ(answer.data, samples({0x0000, 0x0001}));
}

TEST_F(VirtualCardTest, HeldReadWaitsForReleaseNotForStop) {
    Driver reader(0);
    Driver controller(0);
    controller.write(proto::kPipeAdCommand, kStart);
    card(0).clearRequests();
    EXPECT_FALSE(card(0).waitForHeldRead(0));
    card(0).holdReads();

    Answer answer;
    std::atomic<bool> done{false};
    std::thread thread([&] {
        answer = reader.read(proto::kPipeAdData, 4);
        done = true;
    });
    ASSERT_TRUE(card(0).waitForHeldRead(60000));
    controller.write(proto::kPipeAdCommand, kStop);
    controller.write(proto::kPipeAdCommand, kStart);
    EXPECT_TRUE(card(0).waitForHeldRead(0)); // still held
    EXPECT_FALSE(done);
    const std::vector<Request> whileHeld = card(0).requests();
    ASSERT_EQ(whileHeld.size(), 3u);
    EXPECT_EQ(whileHeld[0].pipe, 2);
    EXPECT_EQ(whileHeld[0].returned, 0u);
    EXPECT_EQ(whileHeld[0].result, 0);

    card(0).releaseReads();
    thread.join();
    EXPECT_EQ(answer.result, 1);
    EXPECT_EQ(answer.data, samples({0x0000, 0x0001}));
    const std::vector<Request> after = card(0).requests();
    EXPECT_EQ(after[0].returned, 4u);
    EXPECT_EQ(after[0].result, 1);
}

TEST_F(VirtualCardTest, ReplacingCardsFailsTheirFilesAndBlockedReads) {
    Driver reader(0);
    card(0).holdReads();
    Answer answer;
    std::thread thread([&] { answer = reader.read(proto::kPipeAdData, 4); });
    ASSERT_TRUE(card(0).waitForHeldRead(60000));
    install({1});
    thread.join();
    EXPECT_EQ(answer.result, 0);
    EXPECT_EQ(reader.call(proto::kUsbReset, {}).result, 0);
    EXPECT_EQ(reader.read(proto::kPipeStatus, 512).result, 0);
    EXPECT_EQ(card(0).physicalId(), 1);
    EXPECT_EQ(card(0).openFiles(), 0);
    // ~Driver closes the file of the replaced card.
}

TEST_F(VirtualCardTest, EveryRequestIsRecordedInOrder) {
    Driver driver(1);
    driver.call(proto::kSetInterface, {0x00, 0x01});
    driver.write(proto::kPipeCommand, {proto::kCmdTrigLevel, 0x42});
    driver.read(proto::kPipeStatus, 512);
    driver.read(proto::kPipeCommand, 512); // fails: pipe 1 is write-only
    driver.call(proto::kGetCurrentId, {0, 0, 0, 0});

    const std::vector<Request> requests = card(1).requests();
    ASSERT_EQ(requests.size(), 5u);
    Bytes trigPacket(512, 0);
    trigPacket[0] = proto::kCmdTrigLevel;
    trigPacket[1] = 0x42;
    const Request expected[] = {
        {proto::kSetInterface, -1, {0x00, 0x01}, 2, 0, 1},
        {proto::kBulkWrite, 1, trigPacket, 512, 512, 1},
        {proto::kBulkRead, 3, {}, 512, 512, 1},
        {proto::kBulkRead, 1, {}, 512, 0, 0},
        {proto::kGetCurrentId, -1, {}, 4, 4, 1},
    };
    for (size_t i = 0; i < requests.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(requests[i].code, expected[i].code);
        EXPECT_EQ(requests[i].pipe, expected[i].pipe);
        EXPECT_EQ(requests[i].sent, expected[i].sent);
        EXPECT_EQ(requests[i].asked, expected[i].asked);
        EXPECT_EQ(requests[i].returned, expected[i].returned);
        EXPECT_EQ(requests[i].result, expected[i].result);
    }
    EXPECT_TRUE(card(0).requests().empty());
    card(1).clearRequests();
    EXPECT_TRUE(card(1).requests().empty());
}

TEST_F(VirtualCardTest, MalformedRequestsFailWithoutCrashing) {
    Driver driver(0);
    uint8_t pipe0[4] = {0, 0, 0, 0};
    uint8_t pipe2[4] = {2, 0, 0, 0};
    uint8_t pipe3[4] = {3, 0, 0, 0};
    uint8_t pipe4[4] = {4, 0, 0, 0};
    uint8_t pipeAll[4] = {0xFF, 0xFF, 0xFF, 0xFF};
    uint8_t buffer[512] = {};
    uint32_t returned = 0;
    struct Case {
        const char *what;
        uint32_t code;
        void *input;
        uint32_t inputSize;
        void *output;
        uint32_t outputSize;
        uint32_t *bytesReturned;
    };
    const Case cases[] = {
        {"unknown code", 0x00222000, nullptr, 0, nullptr, 0, &returned},
        {"null data buffer", proto::kBulkRead, pipe3, 4, nullptr, 512, &returned},
        {"null pipe word", proto::kBulkRead, nullptr, 4, buffer, 512, &returned},
        {"short pipe word", proto::kBulkRead, pipe3, 3, buffer, 512, &returned},
        {"no bytes-returned variable", proto::kBulkRead, pipe3, 4, buffer, 512, nullptr},
        {"write on pipe 2", proto::kBulkWrite, pipe2, 4, buffer, 512, &returned},
        {"write on pipe 3", proto::kBulkWrite, pipe3, 4, buffer, 512, &returned},
        {"read on pipe 0", proto::kBulkRead, pipe0, 4, buffer, 512, &returned},
        {"read on pipe 4", proto::kBulkRead, pipe4, 4, buffer, 512, &returned},
        {"write on pipe 0xFFFFFFFF", proto::kBulkWrite, pipeAll, 4, buffer, 512, &returned},
        {"identity answer too short", proto::kGetDeviceCount, buffer, 3, nullptr, 0, &returned},
        {"identity without buffer", proto::kGetCurrentId, nullptr, 4, nullptr, 0, &returned},
        {"interface with one byte", proto::kSetInterface, buffer, 1, nullptr, 0, &returned},
        {"reset with null output", proto::kUsbReset, nullptr, 0, nullptr, 8, &returned},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        card(0).clearRequests();
        returned = 0xFFFF;
        std::fill(std::begin(buffer), std::end(buffer), 0xEE);
        EXPECT_EQ(backend().request(driver.file(), c.code, c.input, c.inputSize, c.output, c.outputSize,
                                    c.bytesReturned),
                  0);
        if (c.bytesReturned != nullptr) {
            EXPECT_EQ(returned, 0u);
        }
        EXPECT_EQ(buffer[0], 0xEE);
        const std::vector<Request> requests = card(0).requests();
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(requests[0].code, c.code);
        EXPECT_EQ(requests[0].result, 0);
    }
    EXPECT_EQ(card(0).doLines(), 0);
    returned = 0xFFFF;
    EXPECT_EQ(backend().request(nullptr, proto::kUsbReset, nullptr, 0, nullptr, 0, &returned), 0);
    EXPECT_EQ(returned, 0u);
}

} // namespace
} // namespace kvd::vcard
