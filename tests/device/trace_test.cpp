// The request trace: one whole line per driver request, in the documented format.
#include <algorithm>
#include <set>
#include <thread>

#include <gtest/gtest.h>

#include "device/trace.h"
#include "card_model/driver_protocol.h"
#include "support/test_support.h"

namespace kvd::testing {
namespace {

namespace protocol = kvd::protocol;

class TraceTest : public VirtualCardTest {
protected:
    void SetUp() override { ASSERT_TRUE(trace::traceTo(dir_.file("trace.txt").c_str())); }
    void TearDown() override {
        trace::traceTo(nullptr);
        VirtualCardTest::TearDown();
    }
    std::vector<std::string> traced() { return linesOf(readWholeFile(dir_.file("trace.txt"))); }
    TempDir dir_;
};

TEST_F(TraceTest, OneLineForEachRequestKind) {
    install({7, 0x2a});
    KVD4093_HANDLE handle = openRecord(1);
    uint8_t packet[512] = {0x01, 0x1f, 0x00, 0x10};
    uint8_t status[512];
    uint32_t count = 0;
    ASSERT_EQ(BulkWrite(handle, 1, packet, 512, &count), 1);
    ASSERT_EQ(BulkRead(handle, 3, status, 512, &count), 1);
    ASSERT_EQ(SetInterface(handle, 0x0100), 1);
    ASSERT_EQ(USB_Reset(handle), 1);
    ASSERT_EQ(KVD4093_CreateLowFile(handle), 1);
    ASSERT_EQ(KVD4093_CloseLowFile(handle), 1);
    vcard::card(1).failRequest({protocol::kBulkRead, 3}, 1);
    ASSERT_EQ(BulkRead(handle, 3, status, 512, &count), 0);
    ASSERT_EQ(BulkWrite(handle, 0, packet, 3, &count), 1);

    std::string statusHex = "0000" + std::string(30, '0') + "2a" + hexBytes({status[18], status[19], status[20]});
    statusHex.erase(std::remove(statusHex.begin(), statusHex.end(), ' '), statusHex.end());
    const std::vector<std::string> expected = {
        "card=1 BULK_WRITE pipe=1 len=512 ret=512 ok=1 data=011f0010" + std::string(32, '0'),
        "card=1 BULK_READ pipe=3 len=512 ret=512 ok=1 data=" + statusHex,
        "card=1 SET_INTERFACE len=2 ret=0 ok=1 data=0001",
        "card=1 USB_RESET len=0 ret=0 ok=1",
        "card=1 CREATE_LOW_FILE len=0 ret=0 ok=1",
        "card=1 CLOSE_LOW_FILE len=0 ret=0 ok=1",
        "card=1 BULK_READ pipe=3 len=512 ret=0 ok=0",
        "card=1 BULK_WRITE pipe=0 len=3 ret=3 ok=1 data=011f00",
    };
    EXPECT_EQ(traced(), expected);
}

TEST_F(TraceTest, IdentityRequestsShowTheirFourByteBuffer) {
    install({7, 9});
    KVD4093_HANDLE handle = openRecord(1);
    int32_t logical = 0;
    ASSERT_EQ(KVD4093_GetDeviceCount(handle), 2);
    ASSERT_EQ(KVD4093_GetDeviceCurrentID(handle, &logical, nullptr), 1);
    const std::vector<std::string> expected = {
        "card=1 GET_DEVICE_COUNT len=4 ret=4 ok=1",
        "card=1 GET_CURRENT_ID len=4 ret=4 ok=1",
        "card=1 BULK_READ pipe=3 len=512 ret=512 ok=1 data=000000000000000000000000000000000009010001",
        "card=1 BULK_READ pipe=3 len=512 ret=512 ok=1 data=000000000000000000000000000000000009010001",
    };
    EXPECT_EQ(traced(), expected);
}

// The request names and pipes of the trace, without counts and data.
std::vector<std::string> shapes(const std::vector<std::string> &lines) {
    std::vector<std::string> out;
    for (const std::string &line : lines)
        out.push_back(line.substr(0, line.find(" len=")));
    return out;
}

TEST_F(TraceTest, SearchByPhysicalIdInItsOrder) {
    install({7, 5});
    KVD4093_HANDLE handle = KVD4093_CreateDeviceEx(5);
    ASSERT_NE(handle, KVD4093_INVALID_HANDLE);
    const std::vector<std::string> expected = {
        "card=0 BULK_WRITE pipe=1", "card=0 BULK_READ pipe=3", "card=0 BULK_READ pipe=3",
        "card=1 BULK_WRITE pipe=1", "card=1 BULK_READ pipe=3", "card=1 BULK_READ pipe=3",
        "card=1 SET_INTERFACE",
    };
    EXPECT_EQ(shapes(traced()), expected);
    EXPECT_EQ(KVD4093_ReleaseDevice(handle), 1);
}

TEST_F(TraceTest, DeviceListReportInItsOrder) {
    install({3, 4});
    ASSERT_EQ(KVD4093_ListDeviceDlg(), 1);
    const std::vector<std::string> expected = {
        "card=0 BULK_WRITE pipe=1", "card=0 GET_DEVICE_COUNT",                             // the count
        "card=0 BULK_WRITE pipe=1", "card=0 BULK_READ pipe=3", "card=0 BULK_READ pipe=3", // card 0 listed
        "card=1 BULK_WRITE pipe=1", "card=1 BULK_READ pipe=3", "card=1 BULK_READ pipe=3", // card 1 listed
    };
    EXPECT_EQ(shapes(traced()), expected);
}

TEST_F(TraceTest, LinesOfManyThreadsNeverMix) {
    install({1, 2, 3, 4});
    std::vector<std::thread> threads;
    for (int32_t n = 0; n < 4; ++n) {
        KVD4093_HANDLE handle = openRecord(n);
        threads.emplace_back([handle] {
            uint8_t packet[512] = {0x03, 0xff, 0xff};
            uint32_t count = 0;
            for (int i = 0; i < 500; ++i)
                BulkWrite(handle, 1, packet, 512, &count);
        });
    }
    for (auto &thread : threads)
        thread.join();
    const auto written = traced();
    ASSERT_EQ(written.size(), 2000u);
    std::set<std::string> wellFormed;
    for (int n = 0; n < 4; ++n)
        wellFormed.insert("card=" + std::to_string(n) + " BULK_WRITE pipe=1 len=512 ret=512 ok=1 data=03ffff" +
                          std::string(34, '0'));
    for (const std::string &line : written)
        EXPECT_TRUE(wellFormed.count(line)) << line;
}

TEST_F(TraceTest, StoppedTraceWritesNothing) {
    install({7});
    KVD4093_HANDLE handle = openRecord(0);
    trace::traceTo(nullptr);
    EXPECT_FALSE(trace::enabled());
    ASSERT_EQ(USB_Reset(handle), 1);
    EXPECT_TRUE(traced().empty());
}

} // namespace
} // namespace kvd::testing
