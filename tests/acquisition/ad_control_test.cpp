// AD set-up, reads, the stop and the trigger level: the exact packets on each
// pipe, in order, and every failure with its log entries.
#include <chrono>
#include <cstring>
#include <future>
#include <thread>

#include <gtest/gtest.h>

#include "acquisition/ad_control.h"
#include "device/device_object.h"
#include "core/messages.h"
#include "card_model/driver_protocol.h"
#include "support/test_support.h"

namespace kvd::testing {
namespace {

namespace protocol = kvd::protocol;

constexpr ADPara kDefaultPara = {0, 0, 0, 1, 25000, 0, 1000, 1, 0, 0, 0, 0, 0, 10, 0, 0, 0};
const char *const kDefaultConfig = "02 00 01 00 00 90 01 00 00 10 27 00 00 01 00 00 00 0a";

const LogEntry kRangeFailed{"KVD4093_InitDeviceAD", text::kSetRangeFailed, "1(Dec)"};
const LogEntry kReadFailed{"KVD4093_ReadDeviceAD", text::kReadAdFailed, "2(Dec)"};

class AdControlTest : public VirtualCardTest {
protected:
    void SetUp() override {
        install({7});
        handle_ = openRecord(0);
    }
    vcard::Card &card() { return vcard::card(0); }

    // The packets written on pipe 0, each shown by the bytes its command defines.
    std::vector<std::string> adCommands() {
        std::vector<std::string> shown;
        for (const auto &request : requestsOf(card(), protocol::kBulkWrite, 0)) {
            EXPECT_EQ(request.asked, 512u);
            const size_t defined = request.sent[0] == 2 ? 18 : request.sent[0] == 1 ? 3 : 2;
            shown.push_back(hexBytes(request.sent, defined));
        }
        return shown;
    }
    std::vector<uint8_t> configOf(const ADPara &para) {
        card().clearRequests();
        EXPECT_EQ(KVD4093_InitDeviceAD(handle_, &para), 1);
        const auto writes = requestsOf(card(), protocol::kBulkWrite, 0);
        return writes.size() > 2 ? writes[2].sent : std::vector<uint8_t>{};
    }

    KVD4093_HANDLE handle_ = nullptr;
};

TEST_F(AdControlTest, DefaultSetUpSendsFourPacketsThenReadsOneBlock) {
    EXPECT_EQ(KVD4093_InitDeviceAD(handle_, &kDefaultPara), 1);
    const std::vector<std::string> expected = {"01 20 80", "01 00 a0", kDefaultConfig, "03 01"};
    EXPECT_EQ(adCommands(), expected);
    const auto requests = card().requests();
    ASSERT_EQ(requests.size(), 5u);
    EXPECT_EQ(requests[4].code, protocol::kBulkRead);
    EXPECT_EQ(requests[4].pipe, 2);
    EXPECT_EQ(requests[4].asked, 1024u);
    EXPECT_EQ(device::liveDevice(handle_)->bADInitialized, 1);
    EXPECT_EQ(std::memcmp(&device::liveDevice(handle_)->adParaCopy, &kDefaultPara, sizeof(ADPara)), 0);
}

TEST_F(AdControlTest, RangeWordCarriesInputRangeAndGrounding) {
    ADPara para = kDefaultPara;
    para.InputRange = 2;
    para.GroundingMode = 1;
    ASSERT_EQ(KVD4093_InitDeviceAD(handle_, &para), 1);
    EXPECT_EQ(adCommands()[1], "01 01 b0");
}

TEST_F(AdControlTest, FieldsAreNarrowedToTheirBitsNeverClamped) {
    struct Case {
        const char *what;
        void (*change)(ADPara &);
        size_t firstByte;
        const char *bytes;
    };
    const Case cases[] = {
        {"FirstChannel 256", [](ADPara &p) { p.FirstChannel = 256; }, 1, "00"},
        {"LastChannel 0x1ff", [](ADPara &p) { p.LastChannel = 0x1ff; }, 2, "ff"},
        {"LoopsOfGroup 65536", [](ADPara &p) { p.LoopsOfGroup = 65536; }, 13, "00 00"},
        {"LoopsOfGroup 0x12345", [](ADPara &p) { p.LoopsOfGroup = 0x12345; }, 13, "45 23"},
        {"TriggerDir 6", [](ADPara &p) { p.TriggerDir = 6; }, 3, "20"},
        {"mode bits", [](ADPara &p) { p.ADMode = 3; p.TriggerMode = 7; p.TriggerType = 2; p.ClockSource = 1; p.bClockOutput = 3; }, 3, "c7"},
        {"TriggerSource 3", [](ADPara &p) { p.TriggerSource = 3; }, 4, "01"},
        {"GroupInterval -1", [](ADPara &p) { p.GroupInterval = -1; }, 9, "f6 ff ff ff"},
        {"GroupInterval 429496730", [](ADPara &p) { p.GroupInterval = 429496730; }, 9, "04 00 00 00"},
        {"Frequency 10000001", [](ADPara &p) { p.Frequency = 10000001; }, 5, "00 00 00 00"},
        {"Frequency 3", [](ADPara &p) { p.Frequency = 3; }, 5, "d5 dc 32 00"},
        {"Frequency 1", [](ADPara &p) { p.Frequency = 1; }, 5, "80 96 98 00"},
        {"Frequency 0", [](ADPara &p) { p.Frequency = 0; }, 5, "00 00 00 00"},
        {"Frequency -5", [](ADPara &p) { p.Frequency = -5; }, 5, "00 00 00 00"},
        {"Gains 6", [](ADPara &p) { p.Gains = 6; }, 15, "02"},
        {"CheckStsMode 0x1ab", [](ADPara &p) { p.CheckStsMode = 0x1ab; }, 16, "ab"},
        {"TrigWindow -1", [](ADPara &p) { p.TrigWindow = -1; }, 17, "ff"},
    };
    for (const Case &c : cases) {
        ADPara para = kDefaultPara;
        c.change(para);
        const std::vector<uint8_t> config = configOf(para);
        ASSERT_EQ(config.size(), 512u) << c.what;
        const size_t count = (std::string(c.bytes).size() + 1) / 3;
        EXPECT_EQ(hexBytes({config.begin() + long(c.firstByte), config.begin() + long(c.firstByte + count)}), c.bytes)
            << c.what;
    }
    ADPara para = kDefaultPara;
    para.InputRange = 5;
    card().clearRequests();
    ASSERT_EQ(KVD4093_InitDeviceAD(handle_, &para), 1);
    EXPECT_EQ(adCommands().back(), "03 01");
    EXPECT_EQ(hexBytes(requestsOf(card(), protocol::kBulkWrite, 0)[1].sent, 3), "01 00 a8");
}

TEST_F(AdControlTest, StopAfterSetUpForcesTriggerClockAndRate) {
    ADPara para = kDefaultPara;
    para.TriggerMode = 3;
    para.TriggerSource = 1;
    para.ClockSource = 1;
    para.TriggerType = 1;
    ASSERT_EQ(KVD4093_InitDeviceAD(handle_, &para), 1);
    card().clearRequests();
    EXPECT_EQ(KVD4093_ReleaseDeviceAD(handle_), 1);
    const std::vector<std::string> expected = {
        "01 20 80", "01 00 a0", "02 00 01 08 00 43 00 00 00 10 27 00 00 01 00 00 00 0a", "03 01", "03 00"};
    EXPECT_EQ(adCommands(), expected);
    EXPECT_FALSE(card().running());
}

TEST_F(AdControlTest, StopWithoutSetUpUsesTheZeroRecord) {
    EXPECT_EQ(KVD4093_ReleaseDeviceAD(handle_), 1);
    const std::vector<std::string> expected = {
        "01 20 80", "01 00 a0", "02 00 00 00 00 43 00 00 00 00 00 00 00 00 00 00 00 00", "03 01", "03 00"};
    EXPECT_EQ(adCommands(), expected);
}

TEST_F(AdControlTest, SetUpFailuresLogInOrder) {
    struct Case {
        uint32_t failingWrite; // the nth write on pipe 0
        std::vector<LogEntry> entries;
    };
    const Case cases[] = {
        {1, {kRangeFailed}},
        {2, {kRangeFailed}},
        {3, {{"KVD4093_InitDeviceAD", text::kSetHardwareParamsFailed, "1(Dec)"}}},
        {4, {{"KVD4093_InitDeviceAD", text::kStartAdFailed, "1(Dec)"}}},
    };
    for (const Case &c : cases) {
        card().clearRules();
        card().clearRequests();
        card().failRequest({protocol::kBulkWrite, 0}, c.failingWrite);
        const size_t before = errorLogStrings();
        EXPECT_EQ(KVD4093_InitDeviceAD(handle_, &kDefaultPara), 0) << c.failingWrite;
        EXPECT_EQ(entriesSince(before), c.entries) << c.failingWrite;
        EXPECT_EQ(adCommands().size(), c.failingWrite) << "nothing is sent after the failed packet";
        EXPECT_EQ(device::liveDevice(handle_)->bADInitialized, 0);
        EXPECT_TRUE(requestsOf(card(), protocol::kBulkRead, 2).empty());
    }
}

TEST_F(AdControlTest, FailedFirstReadLeavesTheReadsEntryThenTheSetUps) {
    card().failRequest({protocol::kBulkRead, 2}, 1);
    const size_t before = errorLogStrings();
    EXPECT_EQ(KVD4093_InitDeviceAD(handle_, &kDefaultPara), 0);
    const std::vector<LogEntry> expected = {kReadFailed,
                                            {"KVD4093_InitDeviceAD", text::kInitialReadFailed, "2(Dec)"}};
    EXPECT_EQ(entriesSince(before), expected);
    EXPECT_EQ(device::liveDevice(handle_)->bADInitialized, 0);
}

TEST_F(AdControlTest, StopFailures) {
    struct Case {
        uint32_t failingWrite;
        std::vector<LogEntry> entries;
    };
    const Case cases[] = {{1, {kRangeFailed}}, {2, {kRangeFailed}}, {3, {}}, {4, {}}, {5, {}}};
    for (const Case &c : cases) {
        card().clearRules();
        card().failRequest({protocol::kBulkWrite, 0}, c.failingWrite);
        const size_t before = errorLogStrings();
        EXPECT_EQ(KVD4093_ReleaseDeviceAD(handle_), 0) << c.failingWrite;
        EXPECT_EQ(entriesSince(before), c.entries) << c.failingWrite;
    }
    char answer[128];
    KVD4093_GetLastErrorEx("KVD4093_ReleaseDeviceAD", answer);
    EXPECT_STREQ(answer, "No error message[KVD4093_ReleaseDeviceAD]");
}

TEST_F(AdControlTest, ReadStoresSamplesAndTheirCount) {
    ASSERT_EQ(KVD4093_InitDeviceAD(handle_, &kDefaultPara), 1);
    uint16_t samples[8] = {};
    uint32_t count = 99;
    EXPECT_EQ(KVD4093_ReadDeviceAD(handle_, samples, 8, &count), 1);
    EXPECT_EQ(count, 8u);
    // Scans of channels 0 and 1 continue where the set-up's 512 samples (256 scans) left off.
    const uint16_t expected[8] = {0x0100, 0x1100, 0x0101, 0x1101, 0x0102, 0x1102, 0x0103, 0x1103};
    EXPECT_EQ(std::vector<uint16_t>(samples, samples + 8), std::vector<uint16_t>(expected, expected + 8));

    card().shortenReturns({protocol::kBulkRead, 2}, 1023);
    uint16_t block[512];
    EXPECT_EQ(KVD4093_ReadDeviceAD(handle_, block, 512, &count), 1);
    EXPECT_EQ(count, 511u);
    EXPECT_EQ(KVD4093_ReadDeviceAD(handle_, block, 512, nullptr), 1);
}

TEST_F(AdControlTest, FailedReadLogsAndReturnsTheRequestsValue) {
    ASSERT_EQ(KVD4093_InitDeviceAD(handle_, &kDefaultPara), 1);
    card().failRequest({protocol::kBulkRead, 2}, 1);
    uint16_t block[16];
    uint32_t count = 99;
    const size_t before = errorLogStrings();
    EXPECT_EQ(KVD4093_ReadDeviceAD(handle_, block, 16, &count), 0);
    EXPECT_EQ(entriesSince(before), std::vector<LogEntry>{kReadFailed});
    card().setRequestResult({protocol::kBulkRead, 2}, 5);
    EXPECT_EQ(KVD4093_ReadDeviceAD(handle_, block, 16, &count), 5);
}

TEST_F(AdControlTest, ReadLongerThanFourGigabytesIsRefusedNotWrapped) {
    ASSERT_EQ(KVD4093_InitDeviceAD(handle_, &kDefaultPara), 1);
    card().clearRequests();
    uint16_t block[4];
    uint32_t count = 99;
    const size_t before = errorLogStrings();
    EXPECT_EQ(KVD4093_ReadDeviceAD(handle_, block, 0x80000000u, &count), 0);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(entriesSince(before), std::vector<LogEntry>{kReadFailed});
    EXPECT_TRUE(card().requests().empty());
}

TEST_F(AdControlTest, TriggerLevelTable) {
    const std::pair<int32_t, int> table[] = {{0, 0},      {39, 0},     {40, 1},       {5000, 128},
                                             {9960, 254}, {9961, 255}, {10000, 255},  {19999, 255},
                                             {-100, 0},   {INT32_MIN, 0}, {INT32_MAX, 255}};
    for (const auto &[level, byte] : table) {
        card().clearRequests();
        EXPECT_EQ(KVD4093_SetDeviceTrigLevel(handle_, level), 1) << level;
        const auto writes = requestsOf(card(), protocol::kBulkWrite, 1);
        ASSERT_EQ(writes.size(), 1u);
        EXPECT_EQ(writes[0].sent[0], 4) << level;
        EXPECT_EQ(writes[0].sent[1], byte) << level;
        EXPECT_EQ(card().triggerLevel(), byte) << level;
    }
}

TEST_F(AdControlTest, InvalidHandle) {
    const size_t before = errorLogStrings();
    uint16_t block[4];
    uint32_t count = 77;
    for (KVD4093_HANDLE dead : {KVD4093_HANDLE(nullptr), KVD4093_INVALID_HANDLE}) {
        EXPECT_EQ(KVD4093_InitDeviceAD(dead, &kDefaultPara), 0);
        EXPECT_EQ(KVD4093_ReadDeviceAD(dead, block, 4, &count), 0);
        EXPECT_EQ(KVD4093_ReleaseDeviceAD(dead), 0);
    }
    EXPECT_EQ(count, 77u);
    EXPECT_TRUE(entriesSince(before).empty());
    EXPECT_EQ(KVD4093_SetDeviceTrigLevel(nullptr, 5000), 0);
    EXPECT_EQ(entriesSince(before),
              std::vector<LogEntry>({{"KVD4093_SetDeviceTrigLevel", text::kDeviceHandleInvalid, "1(Dec)"}}));
    EXPECT_EQ(KVD4093_InitDeviceAD(handle_, nullptr), 0);
    EXPECT_TRUE(card().requests().empty());
}

// A stop on one thread while another thread's read waits inside the card.
class StopWhileReadingTest : public AdControlTest {
protected:
    void startHeldRead() {
        ASSERT_EQ(KVD4093_InitDeviceAD(handle_, &kDefaultPara), 1);
        card().holdReads();
        reader_ = std::async(std::launch::async, [this] {
            uint16_t block[64];
            uint32_t count = 0;
            return KVD4093_ReadDeviceAD(handle_, block, 64, &count);
        });
        ASSERT_TRUE(card().waitForHeldRead(5000));
        EXPECT_EQ(device::liveDevice(handle_)->bADReadBusy.load(), 1);
        card().clearRequests();
    }
    std::future<int32_t> reader_;
};

TEST_F(StopWhileReadingTest, FinalStopGoesOutRightAfterTheReadReturns) {
    startHeldRead();
    auto stopper = std::async(std::launch::async, [this] { return KVD4093_ReleaseDeviceAD(handle_); });
    // The stop restarts the card, then waits for the read: no stop packet yet.
    while (adCommands().size() < 4)
        std::this_thread::yield();
    EXPECT_EQ(stopper.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
    EXPECT_EQ(adCommands().size(), 4u);
    card().releaseReads();
    EXPECT_EQ(reader_.get(), 1);
    EXPECT_EQ(stopper.get(), 1);
    EXPECT_EQ(adCommands().back(), "03 00");
    EXPECT_EQ(device::liveDevice(handle_)->bADReadBusy.load(), 0);
}

TEST_F(StopWhileReadingTest, FinalStopGoesOutAfterTwoSecondsWhenTheReadNeverReturns) {
    startHeldRead();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(KVD4093_ReleaseDeviceAD(handle_), 1);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(1990));
    EXPECT_EQ(adCommands().back(), "03 00");
    EXPECT_EQ(reader_.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout);
    card().releaseReads();
    reader_.get(); // the card is stopped now; the read returns whatever it got
    EXPECT_EQ(device::liveDevice(handle_)->bADReadBusy.load(), 0);
}

} // namespace
} // namespace kvd::testing
