// A stream's calls from several threads: a stop or a close while another
// thread waits in KVD4093_ReadStream (the read ends with -1, nothing is used
// after it is freed), and a callback that stops its own stream.
#include <chrono>
#include <future>
#include <thread>

#include "stream/stream_support.h"

namespace kvd::testing {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

enum class Ending { Stop, Close };

class StreamRaceTest : public StreamTest, public ::testing::WithParamInterface<Ending> {};

INSTANTIATE_TEST_SUITE_P(Endings, StreamRaceTest, ::testing::Values(Ending::Stop, Ending::Close),
                         [](const auto &info) { return info.param == Ending::Stop ? "Stop" : "Close"; });

// A paced card at 2000 scans a second: the reader thread waits in the card
// for each block, the program's read waits in the stream for the reader.
TEST_P(StreamRaceTest, AWaitingReadEndsWithMinusOne) {
    installCard(true);
    KVD4093_STREAM_CONFIG c = config(0, 0, 2000);
    KVD4093_STREAM *stream = KVD4093_OpenStream(&c);
    ASSERT_NE(stream, nullptr) << KVD4093_GetStreamError(nullptr);
    ASSERT_EQ(KVD4093_StartStream(stream), 1) << KVD4093_GetStreamError(stream);
    std::promise<int64_t> lastResult;
    std::thread reader([&] {
        std::vector<uint16_t> samples(1000000);
        int64_t scans;
        while ((scans = KVD4093_ReadStream(stream, samples.data(), uint32_t(samples.size()), -1, nullptr)) > 0) {
        }
        lastResult.set_value(scans);
    });
    std::this_thread::sleep_for(milliseconds(150));
    if (GetParam() == Ending::Stop) {
        EXPECT_EQ(KVD4093_StopStream(stream), 1);
        EXPECT_EQ(KVD4093_StopStream(stream), 1) << "a second stop is fine";
    } else {
        KVD4093_CloseStream(stream);
    }
    std::future<int64_t> result = lastResult.get_future();
    ASSERT_EQ(result.wait_for(seconds(10)), std::future_status::ready) << "the waiting read returned";
    EXPECT_EQ(result.get(), -1);
    reader.join();
    if (GetParam() == Ending::Stop) {
        KVD4093_STREAM_STATUS status{};
        ASSERT_EQ(KVD4093_GetStreamStatus(stream, &status), 1);
        EXPECT_EQ(status.running, 0);
        EXPECT_EQ(status.failed, 0) << KVD4093_GetStreamError(stream);
        KVD4093_CloseStream(stream);
    }
    uint16_t sample = 0;
    EXPECT_EQ(KVD4093_ReadStream(stream, &sample, 1, 0, nullptr), -1) << "a read after close";
}

// Threads that poll a stream while another closes it: every call answers
// its failure value once the stream is gone.
TEST_F(StreamTest, CallsRacingACloseGetTheirFailureValues) {
    installCard(true);
    KVD4093_STREAM_CONFIG c = config(0, 1, 5000);
    KVD4093_STREAM *stream = KVD4093_OpenStream(&c);
    ASSERT_NE(stream, nullptr);
    ASSERT_EQ(KVD4093_StartStream(stream), 1);
    std::atomic<bool> closed{false};
    std::atomic<int> wrongAfterClose{0};
    std::vector<std::thread> pollers;
    for (int i = 0; i < 3; ++i)
        pollers.emplace_back([&] {
            for (int n = 0; n < 2000; ++n) {
                const bool wasClosed = closed.load();
                KVD4093_STREAM_STATUS status{};
                const int32_t answered = KVD4093_GetStreamStatus(stream, &status);
                if (wasClosed && (answered != 0 || KVD4093_GetStreamChannels(stream) != 0))
                    ++wrongAfterClose;
                std::this_thread::yield();
            }
        });
    std::this_thread::sleep_for(milliseconds(20));
    KVD4093_CloseStream(stream);
    closed.store(true);
    for (std::thread &poller : pollers)
        poller.join();
    EXPECT_EQ(wrongAfterClose.load(), 0);
}

void KVD4093_CALL stopAtFirstCall(KVD4093_STREAM *stream, const uint16_t *, uint32_t, const KVD4093_STREAM_BLOCK *,
                                  void *context) {
    auto *calls = static_cast<std::atomic<int> *>(context);
    if (calls->fetch_add(1) == 0) {
        KVD4093_StopStream(stream);
        KVD4093_CloseStream(stream); // refused on the reader thread: the stream stays open
    }
}

TEST_F(StreamTest, ACallbackMayStopItsStreamButNotCloseIt) {
    std::atomic<int> calls{0};
    KVD4093_STREAM_CONFIG c = config(0, 1, 20000);
    c.callback = &stopAtFirstCall;
    c.callbackContext = &calls;
    KVD4093_STREAM *stream = started(c);
    ASSERT_NE(stream, nullptr);
    const Collected collected = readToEnd(stream, 100000);
    EXPECT_EQ(calls.load(), 1) << "the stop ended the reading";
    EXPECT_EQ(KVD4093_GetStreamChannels(stream), 2) << "still open";
    EXPECT_LE(collected.total(), 2000) << "what was queued before the stop, at most the first call's blocks";
}

} // namespace
} // namespace kvd::testing
