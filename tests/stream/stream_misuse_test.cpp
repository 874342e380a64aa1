// Bad use of the stream library gets a clear answer, never a crash: bad
// configurations refused at the open with their reason, a card that does
// not open (the card library's message and its English), every call on a
// NULL, closed or made-up stream, two starts, stops before and after.
#include <cmath>
#include <limits>

#include "stream/stream_support.h"

namespace kvd::testing {
namespace {

struct BadConfig {
    const char *name;
    void (*spoil)(KVD4093_STREAM_CONFIG &);
    const char *reason; // a part of the reason given
};

class StreamConfigTest : public StreamTest, public ::testing::WithParamInterface<BadConfig> {};

INSTANTIATE_TEST_SUITE_P(
    Refused, StreamConfigTest,
    ::testing::Values(
        BadConfig{"NoCards", [](auto &c) { c.cards = nullptr; }, "config.cards is NULL"},
        BadConfig{"EmptyCards", [](auto &c) { c.cards = ""; }, "cards \"\" is empty"},
        BadConfig{"Garbage", [](auto &c) { c.cards = "card0"; }, "cards \"card0\" names no card"},
        BadConfig{"SignedNumber", [](auto &c) { c.cards = "-1"; }, "names no card"},
        BadConfig{"IdTooLarge", [](auto &c) { c.cards = "id:256"; }, "a physical ID is a number from 0 to 255"},
        BadConfig{"NegativeChannel", [](auto &c) { c.firstChannel = -1; }, "channels -1-1: the card's channels are 0 to 255"},
        BadConfig{"ChannelAbove255", [](auto &c) { c.lastChannel = 256; }, "channels 0-256: the card's channels are 0 to 255"},
        BadConfig{"LastBeforeFirst", [](auto &c) { c.firstChannel = 3; c.lastChannel = 2; }, "channels 3-2: the last before the first"},
        BadConfig{"ZeroRate", [](auto &c) { c.scanRate = 0; }, "scanRate 0: give the scans a second"},
        BadConfig{"NegativeRate", [](auto &c) { c.scanRate = -5; }, "scanRate -5:"},
        BadConfig{"NaNRate", [](auto &c) { c.scanRate = std::nan(""); }, "scanRate nan:"},
        BadConfig{"InfiniteRate", [](auto &c) { c.scanRate = std::numeric_limits<double>::infinity(); }, "scanRate inf:"},
        BadConfig{"AboveTheCard", [](auto &c) { c.scanRate = 5000001; }, "above the card's 10000000"},
        BadConfig{"BelowOneSample", [](auto &c) { c.scanRate = 0.2; }, "below 1 sample a second"},
        BadConfig{"NegativeBuffer", [](auto &c) { c.bufferSeconds = -1; }, "bufferSeconds -1"},
        BadConfig{"NaNBuffer", [](auto &c) { c.bufferSeconds = std::nan(""); }, "bufferSeconds nan"},
        BadConfig{"NaNReconnect", [](auto &c) { c.reconnectSeconds = std::nanf(""); }, "reconnectSeconds nan"},
        BadConfig{"InfiniteReconnect", [](auto &c) { c.reconnectSeconds = INFINITY; }, "reconnectSeconds inf"},
        BadConfig{"UnknownOverrun", [](auto &c) { c.onOverrun = 2; }, "onOverrun 2"},
        BadConfig{"NegativeScans", [](auto &c) { c.scans = -1; }, "scans -1"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_P(StreamConfigTest, IsRefusedAtTheOpenWithItsReason) {
    KVD4093_STREAM_CONFIG c = config(0, 1, 1000);
    GetParam().spoil(c);
    EXPECT_EQ(KVD4093_OpenStream(&c), nullptr);
    EXPECT_NE(std::string(KVD4093_GetStreamError(nullptr)).find(GetParam().reason), std::string::npos)
        << KVD4093_GetStreamError(nullptr);
}

struct MissingCard {
    const char *cards;
    const char *call;
    const char *message; // the card library's, UTF-8
    const char *english;
};

class StreamMissingCardTest : public StreamTest, public ::testing::WithParamInterface<MissingCard> {};

INSTANTIATE_TEST_SUITE_P(
    Cards, StreamMissingCardTest,
    ::testing::Values(MissingCard{"id:99", "KVD4093_CreateDeviceEx", "物理ID号=99的设备不存在",
                                  "(no device with physical ID 99 exists)"},
                      MissingCard{"3", "KVD4093_CreateDevice", "[KVD4093_CreateDevice]", ""}),
    [](const auto &info) { return info.index == 0 ? std::string("ByPhysicalId") : std::string("ByNumber"); });

TEST_P(StreamMissingCardTest, GivesTheCardLibrarysMessageAndItsEnglish) {
    KVD4093_STREAM_CONFIG c = config(0, 1, 1000);
    c.cards = GetParam().cards;
    EXPECT_EQ(KVD4093_OpenStream(&c), nullptr);
    const std::string error = KVD4093_GetStreamError(nullptr);
    for (const char *part : {GetParam().call, GetParam().message, GetParam().english})
        EXPECT_NE(error.find(part), std::string::npos) << part << " in " << error;
}

TEST_F(StreamTest, OpensByPhysicalIdAndLoadsTheSavedRecord) {
    KVD4093_STREAM_CONFIG c = config(2, 5, 1000);
    c.cards = "id:7";
    KVD4093_STREAM *stream = KVD4093_OpenStream(&c);
    ASSERT_NE(stream, nullptr) << KVD4093_GetStreamError(nullptr);
    streams_.push_back(stream);
    EXPECT_STREQ(KVD4093_GetStreamError(nullptr), "") << "a good open clears the reason";
    ADPara record{};
    ASSERT_EQ(KVD4093_GetStreamRecord(stream, &record), 1);
    EXPECT_EQ(record.FirstChannel, 2);
    EXPECT_EQ(record.LastChannel, 5);
    EXPECT_EQ(record.Frequency, 4000);
    EXPECT_EQ(record.GroupInterval, 1000) << "the saved settings (here the defaults) fill the rest";
    EXPECT_EQ(KVD4093_GetStreamChannels(stream), 4);
    EXPECT_NE(KVD4093_GetStreamDevice(stream), nullptr);
}

// Every call on a stream that is not open: NULL, closed, or an address no
// open returned.
TEST_F(StreamTest, CallsOnAStreamThatIsNotOpenAnswerTheirFailureValues) {
    KVD4093_STREAM_CONFIG c = config(0, 1, 1000);
    KVD4093_STREAM *closed = KVD4093_OpenStream(&c);
    ASSERT_NE(closed, nullptr);
    KVD4093_CloseStream(closed);
    int32_t notAStream = 0;
    for (KVD4093_STREAM *stream : {static_cast<KVD4093_STREAM *>(nullptr), closed,
                                   reinterpret_cast<KVD4093_STREAM *>(&notAStream)}) {
        uint16_t samples[4];
        KVD4093_STREAM_STATUS status{};
        KVD4093_STREAM_BUFFER buffer{};
        ADPara record{};
        int64_t utc = 0, monotonic = 0;
        EXPECT_EQ(KVD4093_StartStream(stream), 0);
        EXPECT_EQ(KVD4093_ReadStream(stream, samples, 2, 0, nullptr), -1);
        EXPECT_EQ(KVD4093_GetStreamStatus(stream, &status), 0);
        EXPECT_EQ(KVD4093_StopStream(stream), 0);
        EXPECT_EQ(KVD4093_GetStreamChannels(stream), 0);
        EXPECT_EQ(KVD4093_GetStreamStartTime(stream, &utc, &monotonic), 0);
        EXPECT_EQ(KVD4093_GetStreamDevice(stream), nullptr);
        EXPECT_EQ(KVD4093_GetStreamRecord(stream, &record), 0);
        EXPECT_EQ(KVD4093_GetStreamBuffer(stream, &buffer), 0);
        KVD4093_CloseStream(stream);
        if (stream != nullptr) {
            EXPECT_NE(std::string(KVD4093_GetStreamError(stream)).find("not an open stream"), std::string::npos);
        }
    }
    EXPECT_EQ(notAStream, 0) << "never written through";
}

TEST_F(StreamTest, StartsOnceAndStopsAnyNumberOfTimes) {
    KVD4093_STREAM_CONFIG c = config(0, 1, 1000);
    KVD4093_STREAM *stream = KVD4093_OpenStream(&c);
    ASSERT_NE(stream, nullptr);
    streams_.push_back(stream);
    int64_t utc = 0, monotonic = 0;
    EXPECT_EQ(KVD4093_GetStreamStartTime(stream, &utc, &monotonic), 0) << "not started";
    const int64_t before = std::chrono::duration_cast<std::chrono::nanoseconds>(
                               std::chrono::system_clock::now().time_since_epoch())
                               .count();
    ASSERT_EQ(KVD4093_StartStream(stream), 1) << KVD4093_GetStreamError(stream);
    EXPECT_EQ(KVD4093_GetStreamStartTime(stream, &utc, &monotonic), 1);
    EXPECT_GE(utc, before);
    EXPECT_GT(monotonic, 0);
    EXPECT_EQ(KVD4093_StartStream(stream), 0);
    EXPECT_NE(std::string(KVD4093_GetStreamError(stream)).find("started already"), std::string::npos);
    uint16_t samples[2];
    EXPECT_EQ(KVD4093_ReadStream(stream, nullptr, 1, 0, nullptr), -1) << "no room given";
    EXPECT_NE(std::string(KVD4093_GetStreamError(stream)).find("samples is NULL"), std::string::npos);
    EXPECT_EQ(KVD4093_StopStream(stream), 1);
    EXPECT_EQ(KVD4093_StopStream(stream), 1);
    while (KVD4093_ReadStream(stream, samples, 1, 1000, nullptr) > 0) {
    }
    EXPECT_EQ(KVD4093_ReadStream(stream, samples, 1, 1000, nullptr), -1);

    KVD4093_STREAM *never = KVD4093_OpenStream(&c);
    ASSERT_NE(never, nullptr);
    streams_.push_back(never);
    EXPECT_EQ(KVD4093_StopStream(never), 1) << "a stop before the start: nothing to stop";
    EXPECT_EQ(KVD4093_StartStream(never), 0);
    EXPECT_NE(std::string(KVD4093_GetStreamError(never)).find("stopped before it started"), std::string::npos);
    EXPECT_EQ(KVD4093_ReadStream(never, samples, 1, -1, nullptr), -1) << "ended without a start";
}

TEST_F(StreamTest, OpensOnACardTheProgramOpenedAndLeavesItOpen) {
    KVD4093_HANDLE card = KVD4093_CreateDevice(0);
    ASSERT_NE(card, KVD4093_INVALID_HANDLE);
    KVD4093_STREAM_CONFIG c = config(0, 0, 1000, 10);
    c.cards = "ignored";
    EXPECT_EQ(KVD4093_OpenStreamOnDevice(nullptr, &c), nullptr);
    EXPECT_NE(std::string(KVD4093_GetStreamError(nullptr)).find("hDevice"), std::string::npos);
    KVD4093_STREAM *stream = KVD4093_OpenStreamOnDevice(card, &c);
    ASSERT_NE(stream, nullptr) << KVD4093_GetStreamError(nullptr);
    EXPECT_EQ(KVD4093_GetStreamDevice(stream), card);
    KVD4093_CloseStream(stream);
    EXPECT_EQ(KVD4093_ReleaseDevice(card), 1) << "the program's handle stayed open";
}

// The buffer's shape: blocks of 50 ms within 1 MiB, as many as asked for
// within 256 MiB, and a cut said.
struct ShapeCase {
    int32_t last;
    double scanRate, bufferSeconds;
    uint32_t blockScans, blocks;
    int32_t cut;
};

class StreamBufferTest : public StreamTest, public ::testing::WithParamInterface<ShapeCase> {};

INSTANTIATE_TEST_SUITE_P(Shapes, StreamBufferTest,
                         ::testing::Values(ShapeCase{3, 10000, 0, 500, 40, 0},     // the default 2 s
                                           ShapeCase{0, 100, 0.01, 5, 1, 0},        // at least one block
                                           ShapeCase{0, 10000000, 100, 500000, 266, 1}, // 1 MiB blocks, cut at 256 MiB
                                           ShapeCase{249, 1000, 1, 50, 20, 0}),
                         [](const auto &info) {
                             return std::to_string(info.param.last + 1) + "ChannelsOf" +
                                    std::to_string(info.param.blockScans) + "ScansTimes" +
                                    std::to_string(info.param.blocks);
                         });

TEST_P(StreamBufferTest, HoldsTheSecondsAskedForWithin256MiB) {
    const ShapeCase s = GetParam();
    KVD4093_STREAM_CONFIG c = config(0, s.last, s.scanRate);
    c.bufferSeconds = s.bufferSeconds;
    KVD4093_STREAM *stream = KVD4093_OpenStream(&c);
    ASSERT_NE(stream, nullptr) << KVD4093_GetStreamError(nullptr);
    streams_.push_back(stream);
    KVD4093_STREAM_BUFFER buffer{};
    ASSERT_EQ(KVD4093_GetStreamBuffer(stream, &buffer), 1);
    EXPECT_EQ(buffer.blockScans, s.blockScans);
    EXPECT_EQ(buffer.blocks, s.blocks);
    EXPECT_EQ(buffer.cut, s.cut);
    EXPECT_LE(buffer.bytes, KVD4093_STREAM_MOST_BUFFER_BYTES);
    EXPECT_DOUBLE_EQ(buffer.seconds, double(s.blocks) * s.blockScans / buffer.scanRate);
}

} // namespace
} // namespace kvd::testing
