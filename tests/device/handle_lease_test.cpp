// Handles under misuse: a release racing the calls that use the same card,
// two releases of one handle, released handles that must stay dead, and an
// ID search over cards whose status cannot be read.
#include <atomic>
#include <functional>
#include <future>
#include <set>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <csignal>
#include <pthread.h>
#endif

#include <gtest/gtest.h>

#include "KVD4093.h"
#include "core/messages.h"
#include "device/device_object.h"
#include "card_model/driver_protocol.h"
#include "platform/platform.h"
#include "support/test_support.h"

namespace kvd::testing {
namespace {

namespace protocol = kvd::protocol;

constexpr ADPara kPara{0, 0, 0, 3, 100000, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0};

class HandleLeaseTest : public VirtualCardTest {};

// A thread that calls one function on whichever handle is current, without
// pause, until it is destroyed.
class Racer {
public:
    explicit Racer(std::function<int32_t(KVD4093_HANDLE)> call)
        : call_(std::move(call)), thread_([this] {
              while (!done_.load())
                  if (KVD4093_HANDLE handle = current_.load()) {
                      call_(handle);
                      calls_.fetch_add(1);
                  }
          }) {}
    ~Racer() {
        done_.store(true);
        thread_.join();
    }
    std::thread &thread() { return thread_; }
    // Makes a handle current and returns once the racer calls on it.
    void race(KVD4093_HANDLE handle) {
        current_.store(handle);
        for (const uint64_t calls = calls_.load(); calls_.load() < calls + 1;)
            std::this_thread::yield();
    }

private:
    std::function<int32_t(KVD4093_HANDLE)> call_;
    std::atomic<bool> done_{false};
    std::atomic<KVD4093_HANDLE> current_{nullptr};
    std::atomic<uint64_t> calls_{0};
    std::thread thread_;
};

#ifndef _WIN32
// Stops a thread wherever it happens to be, as a busy machine's scheduler
// may: a signal whose handler holds the thread until go(), or for a
// millisecond or so should the stopped thread hold what another waits for.
// Whatever the stopping thread does meanwhile lands inside even the shortest
// step of the stopped thread's work.
class Stopper {
public:
    explicit Stopper(std::thread &thread) : thread_(thread.native_handle()) {
        struct sigaction action{};
        action.sa_handler = &hold;
        action.sa_flags = SA_RESTART;
        sigemptyset(&action.sa_mask);
        sigaction(SIGURG, &action, &previous_);
    }
    ~Stopper() { sigaction(SIGURG, &previous_, nullptr); }
    // Returns once the thread is stopped.
    void stop() {
        going_.store(false);
        stopped_.store(false);
        pthread_kill(thread_, SIGURG);
        while (!stopped_.load())
            std::this_thread::yield();
    }
    void go() { going_.store(true); }

private:
    static void hold(int) {
        stopped_.store(true);
        for (int spin = 0; spin < 1000000 && !going_.load(); ++spin) {
        }
    }
    static inline std::atomic<bool> stopped_{false};
    static inline std::atomic<bool> going_{false};
    pthread_t thread_;
    struct sigaction previous_{};
};
#else
// On Windows the scheduler's own stops must do.
struct Stopper {
    explicit Stopper(std::thread &) {}
    void stop() {}
    void go() {}
};
#endif

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

// A call that drops its lease just as a release takes the handle must not
// free the record as well: every released record is freed exactly once. The
// racer calls without pause on the current handle and is stopped wherever it
// is while the release runs; the count of freed records shows a second free
// at once, long before the heap would notice it.
TEST_F(HandleLeaseTest, EveryReleasedRecordIsFreedExactlyOnce) {
    install({7});
    vcard::card(0).setRecording(false);
    const std::vector<std::pair<const char *, std::function<int32_t(KVD4093_HANDLE)>>> calls = {
        {"BulkWrite", [](KVD4093_HANDLE h) { uint8_t p[512] = {3}; uint32_t n = 0; return BulkWrite(h, 1, p, 512, &n); }},
        {"GetDeviceDI", [](KVD4093_HANDLE h) { uint8_t di[16]; return KVD4093_GetDeviceDI(h, di); }},
        {"WriteDeviceDA", [](KVD4093_HANDLE h) { return KVD4093_WriteDeviceDA(h, 0, 100, 0); }},
    };
    constexpr int kRounds = 300;
    for (const auto &[name, call] : calls) {
        const uint64_t freedBefore = device::devicesFreed();
        int rounds = 0;
        int released = 0;
        {
            Racer racer(call);
            Stopper stopper(racer.thread());
            for (; rounds < kRounds && device::devicesFreed() - freedBefore == uint64_t(released); ++rounds) {
                KVD4093_HANDLE handle = KVD4093_CreateDevice(0);
                racer.race(handle);
                stopper.stop();
                // Released while the racer stands outside its lease, perhaps
                // just after dropping it; stopped inside, it would hold the
                // release up, so it goes on first.
                if (static_cast<device::DeviceObject *>(handle)->leases.load() != 0)
                    stopper.go();
                released += KVD4093_ReleaseDevice(handle);
                stopper.go();
            }
        }
        EXPECT_EQ(released, rounds) << name << ": every release closes its handle";
        EXPECT_EQ(device::devicesFreed() - freedBefore, uint64_t(released)) << name << ": a record freed twice";
    }
}

// A driver that never ends a request must not hold the release for good: the
// release gives up after its bound and fails as a failed close does, the
// handle live and usable, one entry in the log.
TEST_F(HandleLeaseTest, AReleaseAgainstARequestThatNeverEndsGivesUpAndKeepsTheHandle) {
    install({7});
    KVD4093_HANDLE handle = KVD4093_CreateDevice(0);
    ASSERT_EQ(KVD4093_InitDeviceAD(handle, &kPara), 1);
    vcard::card(0).holdReads();
    vcard::card(0).ignoreCancels(true);
    auto reader = std::async(std::launch::async, [handle] {
        uint16_t block[256];
        uint32_t count = 0;
        return KVD4093_ReadDeviceAD(handle, block, 256, &count);
    });
    ASSERT_TRUE(vcard::card(0).waitForHeldRead(5000));
    const size_t before = errorLogStrings();
    auto release = std::async(std::launch::async, [handle] { return KVD4093_ReleaseDevice(handle); });
    const bool gaveUp = release.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
    if (!gaveUp) { // let a release that would wait for good end, so that the test fails rather than hangs
        vcard::card(0).ignoreCancels(false);
        vcard::card(0).releaseReads();
    }
    ASSERT_TRUE(gaveUp) << "the release waits for good";
    EXPECT_EQ(release.get(), 0);
    EXPECT_EQ(entriesSince(before),
              std::vector<LogEntry>({{"KVD4093_ReleaseDevice", text::kDeviceHandleInvalid, "1(Dec)"}}));
    EXPECT_EQ(vcard::card(0).openFiles(), 1);
    EXPECT_EQ(KVD4093_GetDeviceCount(handle), 1) << "the handle is live and takes requests";

    vcard::card(0).ignoreCancels(false);
    vcard::card(0).releaseReads();
    ASSERT_EQ(reader.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    reader.get();
    EXPECT_EQ(KVD4093_ReleaseDevice(handle), 1);
    EXPECT_EQ(vcard::card(0).openFiles(), 0);
}

// A failed port reset shows its box, which waits for a person; a release
// from another thread meanwhile does not wait for the box.
TEST_F(HandleLeaseTest, AReleaseDoesNotWaitForTheResetFailuresBox) {
    install({7});
    KVD4093_HANDLE handle = KVD4093_CreateDevice(0);
    vcard::card(0).failRequest({protocol::kUsbReset, -1}, 0);
    // A box that stays open until the test closes it.
    struct OpenBox {
        std::promise<void> shown;
        std::promise<void> closed;
        std::shared_future<void> closing = closed.get_future().share();
    } box;
    platform::setMessageCapture(
        [](void *context, const char *, const char *, uint32_t) {
            auto *open = static_cast<OpenBox *>(context);
            open->shown.set_value();
            open->closing.wait();
        },
        &box);
    auto reset = std::async(std::launch::async, [handle] { return USB_Reset(handle); });
    box.shown.get_future().wait();
    auto release = std::async(std::launch::async, [handle] { return KVD4093_ReleaseDevice(handle); });
    const bool releasedWhileShown = release.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    box.closed.set_value();
    platform::setMessageCapture(nullptr, nullptr);
    EXPECT_TRUE(releasedWhileShown) << "the release waited for the box";
    EXPECT_EQ(release.get(), 1);
    EXPECT_EQ(reset.get(), 0);
    EXPECT_EQ(vcard::card(0).openFiles(), 0);
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
