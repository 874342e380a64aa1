// The USB card backend against an emulated card as strict as the kernel's
// usbfs (usb_backend.h): reads of any length through whole packets, waits
// that caught signals do not end, one card shared by the handles of a
// process and refused while another program holds it, and a card pulled out
// and plugged in again.
#include <atomic>
#include <cerrno>
#include <csignal>
#include <future>
#include <thread>

#include <fcntl.h>
#include <linux/usbdevice_fs.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "KVD4093.h"
#include "card_model/driver_protocol.h"
#include "card_model/sample_stream.h"
#include "core/messages.h"
#include "device/trace.h"
#include "facts/card_limits.h"
#include "support/test_support.h"
#include "support/usb_backend.h"

#if defined(KVD4093_TESTS_HAVE_USB_BACKEND)

namespace kvd::testing {
namespace {

// Channels 0 to 2 at 30 kS/s, as `kvd4093 acquire --channels 0-2 --rate 30k` sets them.
constexpr ADPara kThreeChannels = {0, 0, 0, 2, 30000, 0, 1000, 1, 0, 0, 0, 0, 0, 10, 0, 0, 0};
constexpr uint32_t kChannels = 3;
constexpr uint64_t kSetUpSamples = facts::kSetUpSamples; // read and dropped by the set-up

// The n-th sample of the counting stream after the set-up.
uint16_t modelSample(uint64_t n) {
    const uint64_t index = kSetUpSamples + n;
    return vcard::SampleStream::sampleAt(vcard::Signals::Counting, uint32_t(index % kChannels), index / kChannels);
}

class UsbBackendStrictTest : public VirtualCardTest {
protected:
    void SetUp() override {
        if (!usb_backend::active())
            GTEST_SKIP() << "runs on the USB card backend only (" << usb_backend::kSwitch << "=1)";
        install({7});
    }
    void TearDown() override {
        for (KVD4093_HANDLE handle : handles_)
            KVD4093_ReleaseDevice(handle);
        VirtualCardTest::TearDown();
    }
    KVD4093_HANDLE open() {
        KVD4093_HANDLE handle = KVD4093_CreateDevice(0);
        EXPECT_NE(handle, KVD4093_INVALID_HANDLE);
        EXPECT_NE(handle, nullptr);
        handles_.push_back(handle);
        return handle;
    }
    void release(KVD4093_HANDLE handle) {
        EXPECT_EQ(KVD4093_ReleaseDevice(handle), 1);
        std::erase(handles_, handle);
    }
    // Reads `count` samples and checks each against the model from sample `next` on.
    static void readAndCheck(KVD4093_HANDLE handle, uint32_t count, uint64_t *next, std::vector<uint16_t> &block) {
        block.assign(count, 0xFFFF);
        uint32_t got = 0;
        ASSERT_EQ(KVD4093_ReadDeviceAD(handle, block.data(), count, &got), 1) << "reading " << count;
        ASSERT_EQ(got, count);
        for (uint32_t i = 0; i < count; ++i)
            ASSERT_EQ(block[i], modelSample(*next + i)) << "sample " << *next + i << ", read of " << count;
        *next += count;
    }
    std::vector<KVD4093_HANDLE> handles_;
};

TEST_F(UsbBackendStrictTest, ReadsOfEveryLengthGiveTheModelsSamplesInOrder) {
    KVD4093_HANDLE handle = open();
    ASSERT_EQ(KVD4093_InitDeviceAD(handle, &kThreeChannels), 1);
    uint64_t next = 0;
    std::vector<uint16_t> block;
    for (uint32_t count = 1; count <= 1100; ++count)
        ASSERT_NO_FATAL_FAILURE(readAndCheck(handle, count, &next, block));
    // The tool's reads: the partial scan after the set-up, then 50 ms blocks
    // of whole scans (3 channels at 30k, 4 at 100k, 1 at 10k) and its largest.
    for (uint32_t count : {1u, 4500u, 20000u, 500u, 1u << 19})
        ASSERT_NO_FATAL_FAILURE(readAndCheck(handle, count, &next, block));
}

TEST_F(UsbBackendStrictTest, ANewSetUpDropsWhatTheLastReadLeftInThePacket) {
    KVD4093_HANDLE handle = open();
    ASSERT_EQ(KVD4093_InitDeviceAD(handle, &kThreeChannels), 1);
    uint16_t sample = 0;
    uint32_t got = 0;
    ASSERT_EQ(KVD4093_ReadDeviceAD(handle, &sample, 1, &got), 1); // the rest of its packet stays behind
    ASSERT_EQ(KVD4093_ReleaseDeviceAD(handle), 1);
    ASSERT_EQ(KVD4093_InitDeviceAD(handle, &kThreeChannels), 1);
    uint64_t next = 0;
    std::vector<uint16_t> block;
    readAndCheck(handle, 7, &next, block); // the new acquisition's first samples, none of the old one's
}

TEST_F(UsbBackendStrictTest, AShortPacketEndsALongReadWithTheSamplesInOrder) {
    KVD4093_HANDLE handle = open();
    ASSERT_EQ(KVD4093_InitDeviceAD(handle, &kThreeChannels), 1);
    // Each transfer of the card now ends after 1000 bytes, inside its third packet.
    vcard::card(0).shortenReturns({protocol::kBulkRead, 2}, 1000);
    std::vector<uint16_t> block(40000, 0xFFFF);
    uint32_t got = 0;
    ASSERT_EQ(KVD4093_ReadDeviceAD(handle, block.data(), 40000, &got), 1);
    // The first transfer's 500 samples, and what transfers queued behind it
    // received before they were taken back, closed up behind them.
    ASSERT_GE(got, 500u);
    ASSERT_LT(got, 40000u);
    for (uint32_t i = 0; i < got; ++i)
        ASSERT_EQ(block[i], modelSample(i)) << i;
}

void onSignal(int) {}

TEST_F(UsbBackendStrictTest, CaughtSignalsDuringReadsLoseNothing) {
    vcard::Behaviour paced;
    paced.paced = true;
    vcard::card(0).setBehaviour(paced);
    KVD4093_HANDLE handle = open();
    ASSERT_EQ(KVD4093_InitDeviceAD(handle, &kThreeChannels), 1);
    struct sigaction caught {}, before{};
    caught.sa_handler = &onSignal; // no SA_RESTART: a wait in poll ends with EINTR
    sigemptyset(&caught.sa_mask);
    ASSERT_EQ(sigaction(SIGUSR1, &caught, &before), 0);

    std::atomic<bool> signalling{true};
    std::promise<pthread_t> readerThread;
    auto reader = std::async(std::launch::async, [&] {
        readerThread.set_value(pthread_self());
        uint64_t next = 0;
        std::vector<uint16_t> block;
        while (signalling && !::testing::Test::HasFailure())
            readAndCheck(handle, 1024, &next, block); // whole packets, 34 ms at 30 kS/s: mostly waiting
        return next;
    });
    const pthread_t thread = readerThread.get_future().get();
    for (int i = 0; i < 1000; ++i) {
        ASSERT_EQ(pthread_kill(thread, SIGUSR1), 0);
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    signalling = false;
    EXPECT_GT(reader.get(), 0u);
    sigaction(SIGUSR1, &before, nullptr);
    EXPECT_EQ(KVD4093_ReleaseDeviceAD(handle), 1);
}

TEST_F(UsbBackendStrictTest, TwoHandlesOfOneCardBothWork) {
    KVD4093_HANDLE first = open();
    KVD4093_HANDLE second = open();
    uint32_t version = 0;
    const uint8_t lines[16] = {1, 0, 1};
    EXPECT_EQ(KVD4093_GetDevVersion(second, &version, nullptr), 1);
    EXPECT_EQ(KVD4093_SetDeviceDO(first, lines), 1);
    EXPECT_EQ(vcard::card(0).doLines(), 0b101);
    release(first);
    // The card stays claimed for the handle left.
    EXPECT_EQ(KVD4093_GetDevVersion(second, &version, nullptr), 1);
    release(second);
    KVD4093_HANDLE again = open();
    EXPECT_EQ(KVD4093_GetDevVersion(again, &version, nullptr), 1);
}

// Another program's hold on the card: a device file of its own that claimed
// the interface (usbfs tells files apart, not processes).
class OtherProgramsHold {
public:
    explicit OtherProgramsHold(const std::string &deviceFile) : fd_(::open(deviceFile.c_str(), O_RDWR)) {
        unsigned int interfaceNumber = 0;
        held_ = fd_ >= 0 && ::ioctl(fd_, USBDEVFS_CLAIMINTERFACE, &interfaceNumber) == 0;
    }
    ~OtherProgramsHold() {
        unsigned int interfaceNumber = 0;
        if (held_)
            ::ioctl(fd_, USBDEVFS_RELEASEINTERFACE, &interfaceNumber);
        if (fd_ >= 0)
            ::close(fd_);
    }
    bool held() const { return held_; }

private:
    int fd_;
    bool held_ = false;
};

TEST_F(UsbBackendStrictTest, ACardAnotherProgramHoldsFailsToOpenAndTheTraceSaysBusy) {
    TempDir dir;
    ASSERT_TRUE(trace::traceTo(dir.file("trace").c_str()));
    {
        OtherProgramsHold other(usb_backend::deviceFile(0));
        ASSERT_TRUE(other.held());
        const size_t before = errorLogStrings();
        EXPECT_EQ(KVD4093_CreateDevice(0), KVD4093_INVALID_HANDLE);
        EXPECT_EQ(entriesSince(before), (std::vector<LogEntry>{{"KVD4093_CreateDevice", text::kNoDeviceDriver, "1(Dec)"}}));
    }
    open(); // the other program let go
    trace::traceTo(nullptr);
    EXPECT_EQ(linesOf(readWholeFile(dir.file("trace"))).at(0), "card=0 OPEN status=16 busy: in use by another program");
}

TEST_F(UsbBackendStrictTest, AfterAnUnplugTheCardOpensAgainOnceItIsBack) {
    KVD4093_HANDLE handle = open();
    ASSERT_EQ(KVD4093_InitDeviceAD(handle, &kThreeChannels), 1);
    usb_backend::unplug(0);
    uint16_t block[64];
    uint32_t got = 0;
    EXPECT_EQ(KVD4093_ReadDeviceAD(handle, block, 64, &got), 0);
    release(handle);
    EXPECT_EQ(KVD4093_CreateDevice(0), KVD4093_INVALID_HANDLE);

    usb_backend::replug(0);
    handle = open();
    ASSERT_EQ(KVD4093_InitDeviceAD(handle, &kThreeChannels), 1);
    uint64_t next = 0;
    std::vector<uint16_t> samples;
    readAndCheck(handle, 1000, &next, samples);
    release(handle);
    KVD4093_HANDLE byId = KVD4093_CreateDeviceEx(7);
    EXPECT_NE(byId, KVD4093_INVALID_HANDLE);
    release(byId);
}

} // namespace
} // namespace kvd::testing
#endif
