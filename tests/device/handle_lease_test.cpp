// Handles under misuse: a release racing the calls that use the same card,
// two releases of one handle, released handles that must stay dead, and an
// ID search over cards whose status cannot be read.
#include <atomic>
#include <functional>
#include <future>
#include <set>
#include <thread>

#include <gtest/gtest.h>

#include "KVD4093.h"
#include "core/messages.h"
#include "card_model/driver_protocol.h"
#include "support/test_support.h"

namespace kvd::testing {
namespace {

namespace protocol = kvd::protocol;

constexpr ADPara kPara{0, 0, 0, 3, 100000, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0};

class HandleLeaseTest : public VirtualCardTest {};

TEST_F(HandleLeaseTest, ReleaseEndsAReadWaitingInTheCardAndTheHandleDies) {
    install({7});
    KVD4093_HANDLE handle = KVD4093_CreateDevice(0);
    ASSERT_EQ(KVD4093_InitDeviceAD(handle, &kPara), 1);
    vcard::card(0).holdReads();
    auto reader = std::async(std::launch::async, [handle] {
        uint16_t block[256];
        uint32_t count = 99;
        const int32_t result = KVD4093_ReadDeviceAD(handle, block, 256, &count);
        return std::make_pair(result, count);
    });
    ASSERT_TRUE(vcard::card(0).waitForHeldRead(5000));
    EXPECT_EQ(KVD4093_ReleaseDevice(handle), 1);
    ASSERT_EQ(reader.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(reader.get(), std::make_pair(0, 0u));
    EXPECT_EQ(vcard::card(0).openFiles(), 0);
    EXPECT_EQ(KVD4093_ReleaseDevice(handle), 0);
    EXPECT_EQ(KVD4093_GetDeviceCount(handle), 0);
}

// Each racer keeps calling on the handle until it is refused; the release
// runs meanwhile. Repeated so that the release lands at every point of a
// call: the sanitizer builds catch a record freed under a call.
TEST_F(HandleLeaseTest, CallsRacingAReleaseNeverTouchAFreedRecord) {
    install({7});
    const std::vector<std::pair<const char *, std::function<int32_t(KVD4093_HANDLE)>>> racers = {
        {"GetDeviceDI", [](KVD4093_HANDLE h) { uint8_t di[16]; return KVD4093_GetDeviceDI(h, di); }},
        {"ReadDeviceAD", [](KVD4093_HANDLE h) { uint16_t s[512]; uint32_t n = 0; return KVD4093_ReadDeviceAD(h, s, 512, &n); }},
        {"ReleaseDeviceAD", [](KVD4093_HANDLE h) { return KVD4093_ReleaseDeviceAD(h); }},
        {"ReleaseDevice", [](KVD4093_HANDLE h) { return KVD4093_ReleaseDevice(h); }},
    };
    for (const auto &[name, racer] : racers) {
        int32_t releasesThatClosed = 0;
        for (int round = 0; round < 100; ++round) {
            KVD4093_HANDLE handle = KVD4093_CreateDevice(0);
            ASSERT_EQ(KVD4093_InitDeviceAD(handle, &kPara), 1) << name;
            std::atomic<bool> go{false};
            const bool racerReleases = std::string(name) == "ReleaseDevice";
            auto racing = std::async(std::launch::async, [&, handle] {
                while (!go.load())
                    std::this_thread::yield();
                int32_t closed = 0;
                for (int call = 0; call < 50; ++call) {
                    const int32_t result = racer(handle);
                    closed += racerReleases ? result : 0;
                }
                return closed;
            });
            go.store(true);
            releasesThatClosed += KVD4093_ReleaseDevice(handle);
            releasesThatClosed += racing.get();
        }
        EXPECT_EQ(releasesThatClosed, 100) << name << ": each handle closes exactly once";
        EXPECT_EQ(vcard::card(0).openFiles(), 0) << name;
    }
}

// A released handle stays refused while later objects come and go: no new
// object of its kind gets its address soon.
TEST_F(HandleLeaseTest, ReleasedHandlesAreNotHandedOutAgainSoon) {
    install({7});
    TempDir dir;
    KVD4093_HANDLE device = KVD4093_CreateDevice(0);
    const std::string path = dir.file("data.bin");
    struct Kind {
        const char *name;
        std::function<KVD4093_HANDLE()> make;
        std::function<int32_t(KVD4093_HANDLE)> release;
    };
    const std::vector<Kind> kinds = {
        {"device", [] { return KVD4093_CreateDevice(0); }, [](KVD4093_HANDLE h) { return KVD4093_ReleaseDevice(h); }},
        {"file", [&] { return KVD4093_CreateFileObject(device, path.c_str(), 0x1001); },
         [](KVD4093_HANDLE h) { return KVD4093_ReleaseFile(h); }},
#ifndef _WIN32 // on Windows an event is the OS's own handle, reused as the OS sees fit
        {"event", [] { return KVD4093_CreateSystemEvent(); },
         [](KVD4093_HANDLE h) { return KVD4093_ReleaseSystemEvent(h); }},
#endif
    };
    for (const Kind &kind : kinds) {
        std::set<KVD4093_HANDLE> released;
        for (int n = 0; n < 500; ++n) {
            KVD4093_HANDLE handle = kind.make();
            ASSERT_NE(handle, nullptr) << kind.name;
            ASSERT_NE(handle, KVD4093_INVALID_HANDLE) << kind.name;
            EXPECT_EQ(released.count(handle), 0u) << kind.name << " handle reused after " << n << " objects";
            EXPECT_EQ(kind.release(handle), 1) << kind.name;
            released.insert(handle);
        }
        for (KVD4093_HANDLE stale : released)
            EXPECT_EQ(kind.release(stale), 0) << kind.name;
    }
    EXPECT_EQ(KVD4093_ReleaseDevice(device), 1);
}

TEST_F(HandleLeaseTest, AnUnreadableIdNeverMatchesAndIsReleased) {
    install({7, 9});
    vcard::card(0).failRequest({protocol::kBulkRead, 3}, 0);
    for (int32_t wanted : {-1, 9}) {
        const size_t before = errorLogStrings();
        KVD4093_HANDLE handle = KVD4093_CreateDeviceEx(wanted);
        EXPECT_EQ(vcard::card(0).openFiles(), 0) << wanted;
        if (wanted == 9) {
            ASSERT_NE(handle, KVD4093_INVALID_HANDLE);
            EXPECT_EQ(KVD4093_ReleaseDevice(handle), 1);
            continue;
        }
        EXPECT_EQ(handle, KVD4093_INVALID_HANDLE);
        char message[64];
        std::snprintf(message, sizeof message, text::kPhysicalIdMissingFormat, -1);
        const std::vector<LogEntry> entries = entriesSince(before); // the numbers with no card come first
        ASSERT_FALSE(entries.empty());
        EXPECT_EQ(entries.back(), (LogEntry{"KVD4093_CreateDeviceEx", message, "1(Dec)"}));
    }
}

} // namespace
} // namespace kvd::testing
