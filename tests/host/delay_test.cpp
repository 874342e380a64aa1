// The microsecond busy-wait: its arithmetic on a counter the test drives,
// and the export's device test.
#include <gtest/gtest.h>

#include <chrono>
#include <climits>

#include "host/host_utilities.h"
#include "support/test_support.h"

namespace kvd::testing {
namespace {

struct DelayCase {
    const char *name;
    int32_t microseconds;
    int64_t frequency;
    int64_t firstCount;
    int readings; // counter readings until the wait ends, the first (start) included
};

TEST(BusyWaitTest, StopsAtTheFirstReadingStrictlyPastTheRequest) {
    const DelayCase cases[] = {
        {"zero waits for one tick", 0, 1000000, 0, 2},
        {"five microseconds at one tick each", 5, 1000000, 100, 7},
        {"negative: the first reading ends it", -1, 1000000, 0, 2},
        {"most negative", INT32_MIN, 1000000, 0, 2},
        {"slow counter: 1000 us a tick", 1500, 1000, 0, 3},
        {"exactly on a tick is not past it", 2000, 1000, 0, 4},
        {"counter that wraps", 1, 1000000, INT64_MAX - 1, 3},
        {"frequency 0 returns at once", 1000, 0, 0, 1},
        {"negative frequency returns at once", 1000, -5, 0, 1},
    };
    for (const DelayCase &c : cases) {
        int readings = 0;
        uint64_t count = uint64_t(c.firstCount);
        host::busyWaitMicroseconds(c.microseconds, c.frequency, [&] {
            ++readings;
            return int64_t(count++);
        });
        EXPECT_EQ(readings, c.readings) << c.name;
    }
}

class DelayTest : public VirtualCardTest {};

TEST_F(DelayTest, ValidDeviceWaitsAtLeastTheRequestedTime) {
    install({7});
    KVD4093_HANDLE device = openRecord(0);
    EXPECT_EQ(KVD4093_DelayTimeUs(device, 0), 1);
    EXPECT_EQ(KVD4093_DelayTimeUs(device, -1000000), 1);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(KVD4093_DelayTimeUs(device, 3000), 1);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::microseconds(3000));
}

TEST_F(DelayTest, BadDeviceGivesZeroWithoutWaitingOrLogging) {
    install({7});
    int garbage = 0;
    KVD4093_HANDLE released = openRecord(0);
    ASSERT_EQ(KVD4093_ReleaseDevice(released), 1);
    const size_t before = errorLogStrings();
    for (KVD4093_HANDLE device : {KVD4093_HANDLE{}, KVD4093_INVALID_HANDLE, KVD4093_HANDLE(&garbage), released}) {
        // Over half an hour, if it waited at all.
        EXPECT_EQ(KVD4093_DelayTimeUs(device, INT32_MAX), 0) << device;
        EXPECT_EQ(KVD4093_DelayTimeUs(device, 0), 0) << device;
    }
    EXPECT_TRUE(entriesSince(before).empty());
}

} // namespace
} // namespace kvd::testing
