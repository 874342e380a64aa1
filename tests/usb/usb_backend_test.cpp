// What only the USB card backend shows, run with the cards behind emulated USB
// devices (usb_backend.h): a stop releasing a read that waits in libusb, a close
// ending it, a card pulled out during a read, and the backend's open status.
#include <cerrno>
#include <future>

#include <gtest/gtest.h>

#include "KVD4093.h"
#include "card_model/driver_protocol.h"
#include "platform/platform.h"
#include "support/test_support.h"
#include "support/usb_backend.h"

#if defined(KVD4093_TESTS_HAVE_USB_BACKEND)
#include "platform/usb/usb_card_backend.h"

namespace kvd::testing {
namespace {

constexpr ADPara kTenKilohertz = {0, 0, 0, 1, 10000, 0, 1000, 1, 0, 0, 0, 0, 0, 10, 0, 0, 0};

class UsbBackendTest : public VirtualCardTest {
protected:
    void SetUp() override {
        if (!usb_backend::active())
            GTEST_SKIP() << "runs on the USB card backend only (" << usb_backend::kSwitch << "=1)";
        install({7});
        handle_ = KVD4093_CreateDevice(0);
        ASSERT_NE(handle_, KVD4093_INVALID_HANDLE);
        ASSERT_NE(handle_, nullptr);
    }
    void TearDown() override {
        if (handle_ != nullptr && handle_ != KVD4093_INVALID_HANDLE)
            KVD4093_ReleaseDevice(handle_);
        VirtualCardTest::TearDown();
    }
    static std::vector<std::string> adCommands() {
        std::vector<std::string> packets;
        for (const vcard::Request &request : requestsOf(vcard::card(0), protocol::kBulkWrite, 0))
            packets.push_back(hexBytes(request.sent, request.sent[0] == 3 ? 2 : 3));
        return packets;
    }
    KVD4093_HANDLE handle_ = nullptr;
};

TEST_F(UsbBackendTest, StopsFastRestartReleasesAReadWaitingInLibusb) {
    vcard::Behaviour paced;
    paced.paced = true;
    vcard::card(0).setBehaviour(paced);
    ASSERT_EQ(KVD4093_InitDeviceAD(handle_, &kTenKilohertz), 1);
    // Four seconds of samples at 10 kHz; the stop's restart at 149 kHz converts them in under 300 ms.
    constexpr uint32_t kWanted = 40000;
    auto reader = std::async(std::launch::async, [this] {
        std::vector<uint16_t> block(kWanted);
        uint32_t count = 0;
        const int32_t result = KVD4093_ReadDeviceAD(handle_, block.data(), kWanted, &count);
        return std::make_pair(result, count);
    });
    ASSERT_TRUE(vcard::card(0).waitForPacedRead(5000));
    EXPECT_EQ(KVD4093_ReleaseDeviceAD(handle_), 1);
    const auto [result, count] = reader.get();
    EXPECT_EQ(result, 1);
    EXPECT_EQ(count, kWanted); // all of them: the read ended by the restart, not by the final stop
    EXPECT_EQ(adCommands().back(), "03 00");
    EXPECT_FALSE(vcard::card(0).running());
}

TEST_F(UsbBackendTest, CardPulledOutDuringAReadFailsItAndEveryLaterRequest) {
    vcard::card(0).holdReads();
    auto reader = std::async(std::launch::async, [this] {
        uint16_t block[64];
        uint32_t count = 0;
        return KVD4093_ReadDeviceAD(handle_, block, 64, &count);
    });
    ASSERT_TRUE(vcard::card(0).waitForHeldRead(5000));
    usb_backend::unplug(0);
    EXPECT_EQ(reader.get(), 0);

    uint32_t version = 0, moved = 0;
    uint8_t packet[512] = {0x03};
    EXPECT_EQ(KVD4093_GetDevVersion(handle_, &version, nullptr), 0);
    EXPECT_EQ(BulkWrite(handle_, 1, packet, 512, &moved), 0);
    const uint8_t lines[16] = {1};
    EXPECT_EQ(KVD4093_SetDeviceDO(handle_, lines), 0);
    EXPECT_EQ(USB_Reset(handle_), 0); // and shows its box, captured here
    EXPECT_EQ(KVD4093_CreateDevice(0), KVD4093_INVALID_HANDLE); // no card left to open
    EXPECT_EQ(KVD4093_ReleaseDevice(handle_), 1);                // closing still works
    handle_ = nullptr;
}

TEST_F(UsbBackendTest, ClosingTheDriverFileEndsAReadWaitingInLibusb) {
    const platform::CardBackend &usb = platform::usb::usbCardBackend();
    uint32_t status = 0;
    platform::BackendFile *file = usb.open(0, &status);
    ASSERT_NE(file, nullptr);
    vcard::card(0).holdReads();
    uint8_t buffer[64];
    buffer[0] = 0xAB;
    auto reader = std::async(std::launch::async, [&] {
        uint8_t pipe[4] = {2, 0, 0, 0};
        uint32_t returned = 99;
        const int32_t result = usb.request(file, protocol::kBulkRead, pipe, 4, buffer, sizeof buffer, &returned);
        return std::make_pair(result, returned);
    });
    ASSERT_TRUE(vcard::card(0).waitForHeldRead(5000));
    EXPECT_TRUE(usb.close(file));
    const auto [result, returned] = reader.get();
    EXPECT_EQ(result, 0);
    EXPECT_EQ(returned, 0u);
    EXPECT_EQ(buffer[0], 0xAB); // the ended read never wrote into the buffer
}

TEST_F(UsbBackendTest, OpeningANumberWithoutACardGivesENODEV) {
    uint32_t status = 0;
    EXPECT_EQ(platform::usb::usbCardBackend().open(1, &status), nullptr);
    EXPECT_EQ(status, uint32_t(ENODEV));
}

TEST_F(UsbBackendTest, IdentityRequestsAnswerInTheInputBuffer) {
    install({7, 9, 5});
    KVD4093_HANDLE third = KVD4093_CreateDevice(2);
    ASSERT_NE(third, KVD4093_INVALID_HANDLE);
    int32_t logical = -1, physical = -1;
    EXPECT_EQ(KVD4093_GetDeviceCount(third), 3);
    EXPECT_EQ(KVD4093_GetDeviceCurrentID(third, &logical, &physical), 1);
    EXPECT_EQ(logical, 2);
    EXPECT_EQ(physical, 5);
    EXPECT_EQ(KVD4093_CreateLowFile(third), 1);
    EXPECT_EQ(KVD4093_CloseLowFile(third), 1);
    EXPECT_EQ(KVD4093_ReleaseDevice(third), 1);
}

} // namespace
} // namespace kvd::testing
#endif
