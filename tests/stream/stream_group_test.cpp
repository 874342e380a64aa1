// Groups of virtual cards wired on one clock line: the merged scans hold every
// card's own samples at the same index (on a shared clock every card takes
// the bench's waveforms at the same tick; on clocks of their own the cards'
// count of scans shows it), the cards that take the clock start before the driving card, a
// block lost on one card is one gap of the group, a card without a clock is
// named instead of waited for, and bad groups are refused at the open.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "device/trace.h"
#include "stream/stream_support.h"

namespace kvd::testing {
namespace {

constexpr vcard::Signals kWaves = vcard::Signals::Waveforms;

class StreamGroupTest : public StreamTest {
protected:
    // Cards 7, 9 and 5 at logical numbers 0, 1 and 2, paced, with waveforms.
    void SetUp() override {
        StreamTest::SetUp();
        vcard::Behaviour behaviour;
        behaviour.paced = true;
        behaviour.signals = kWaves;
        behaviour.memorySamples = 0;
        vcard::install({7, 9, 5}, behaviour);
    }
    static KVD4093_STREAM_CONFIG group(const char *cards, int32_t last, double scanRate, int64_t scans) {
        KVD4093_STREAM_CONFIG c = config(0, last, scanRate, scans);
        c.cards = cards;
        return c;
    }
    // Every scan handed out holds, card after card, the card's own samples at its index.
    static void expectCardSamples(const Collected &collected, const KVD4093_STREAM_CONFIG &c, uint32_t cards,
                                  vcard::Signals signals = kWaves) {
        const auto channels = uint32_t(c.lastChannel - c.firstChannel + 1);
        size_t at = 0;
        for (size_t b = 0; b < collected.blocks.size(); ++b) {
            for (uint32_t s = 0; s < collected.scans[b]; ++s) {
                const auto scan = uint64_t(collected.blocks[b].firstScan + s);
                for (uint32_t card = 0; card < cards; ++card)
                    for (uint32_t i = 0; i < channels; ++i, ++at)
                        ASSERT_EQ(collected.samples[at], cardSample(signals, c, scan, i))
                            << "scan " << scan << ", card " << card << ", channel offset " << i;
            }
        }
    }
};

struct MergeCase {
    const char *cards;
    uint32_t count;
    int32_t lastChannel;
    int32_t clockMode;
};

class StreamGroupMergeTest : public StreamGroupTest, public ::testing::WithParamInterface<MergeCase> {};

INSTANTIATE_TEST_SUITE_P(Groups, StreamGroupMergeTest,
                         ::testing::Values(MergeCase{"id:7,id:9", 2, 1, KVD4093_STREAM_CLOCK_SHARED},
                                           MergeCase{"0,1,2", 3, 2, KVD4093_STREAM_CLOCK_SHARED},
                                           MergeCase{"id:9,id:5", 2, 0, KVD4093_STREAM_CLOCK_INDEPENDENT}),
                         [](const auto &info) {
                             return std::to_string(info.param.count) + "Cards" +
                                    std::to_string(info.param.lastChannel + 1) + "Channels" +
                                    (info.param.clockMode == KVD4093_STREAM_CLOCK_SHARED ? "Shared" : "Independent");
                         });

TEST_P(StreamGroupMergeTest, ScansHoldEveryCardsOwnSamplesAtTheSameIndex) {
    const MergeCase m = GetParam();
    // Cards on clocks of their own, started apart, take the bench's waveforms
    // at other times: their own count of scans shows the merge by index.
    const bool shared = m.clockMode == KVD4093_STREAM_CLOCK_SHARED;
    const vcard::Signals signals = shared ? kWaves : vcard::Signals::Counting;
    vcard::Behaviour behaviour;
    behaviour.paced = true;
    behaviour.signals = signals;
    behaviour.memorySamples = 0;
    for (int32_t logical = 0; logical < 3; ++logical)
        vcard::card(logical).setBehaviour(behaviour);
    KVD4093_STREAM_CONFIG c = group(m.cards, m.lastChannel, 20000, 6000);
    c.clockMode = m.clockMode;
    KVD4093_STREAM *stream = started(c);
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(KVD4093_GetStreamChannels(stream), int32_t(m.count) * (m.lastChannel + 1));
    KVD4093_STREAM_CARD cards[KVD4093_STREAM_MOST_CARDS]{};
    ASSERT_EQ(KVD4093_GetStreamCards(stream, cards, KVD4093_STREAM_MOST_CARDS), int32_t(m.count));
    const Collected collected = readToEnd(stream, 777);
    ASSERT_EQ(collected.total(), 6000);
    for (const KVD4093_STREAM_BLOCK &block : collected.blocks)
        EXPECT_EQ(block.scansLostBefore, 0);
    expectCardSamples(collected, c, m.count, signals);
    // The clock fields each card was set up with: byte 3, bits 7 and 6, of
    // the first configuration packet (the stop sends its own).
    for (uint32_t i = 0; i < m.count; ++i) {
        uint8_t mode = 0xff;
        int32_t logical = 0;
        while (vcard::card(logical).physicalId() != cards[i].physicalId)
            ++logical;
        for (const vcard::Request &request : vcard::card(logical).requests())
            if (mode == 0xff && request.pipe == 0 && request.sent.size() > 3 && request.sent[0] == 0x02)
                mode = request.sent[3];
        EXPECT_EQ((mode >> 7) & 1, shared && i == 0 ? 1 : 0) << "bClockOutput of card " << i;
        EXPECT_EQ((mode >> 6) & 1, shared && i != 0 ? 1 : 0) << "ClockSource of card " << i;
    }
}

// Every card's first packet of a kind on pipe 0, in the order the trace shows them.
std::vector<int> firstPackets(const std::filesystem::path &trace, const char *data) {
    std::vector<int> cards;
    std::ifstream lines(trace);
    for (std::string line; std::getline(lines, line);) {
        int card = -1;
        if (line.find("BULK_WRITE pipe=0") != std::string::npos && line.find(data) != std::string::npos &&
            std::sscanf(line.c_str(), "card=%d", &card) == 1 && std::find(cards.begin(), cards.end(), card) == cards.end())
            cards.push_back(card);
    }
    return cards;
}

// The trace of a group started, read and stopped: the start packets (03 01)
// and the stop packets (03 00) of the three cards.
TEST_F(StreamGroupTest, TheTraceShowsTheTakersStartedAndStoppedBeforeTheDrivingCard) {
    const std::filesystem::path trace =
        std::filesystem::temp_directory_path() /
        ("kvd4093_group_trace_" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + ".txt");
    ASSERT_TRUE(kvd::trace::traceTo(trace.string().c_str()));
    KVD4093_STREAM *stream = started(group("0,1,2", 1, 10000, 0));
    ASSERT_NE(stream, nullptr);
    uint16_t samples[6 * 1000];
    EXPECT_GT(KVD4093_ReadStream(stream, samples, 1000, 5000, nullptr), 0);
    EXPECT_EQ(KVD4093_StopStream(stream), 1);
    kvd::trace::traceTo(nullptr);
    const std::vector<int> starts = firstPackets(trace, "data=0301");
    const std::vector<int> stops = firstPackets(trace, "data=0300");
    std::filesystem::remove(trace);
    ASSERT_EQ(starts.size(), 3u) << "every card's first start packet";
    EXPECT_EQ(starts.back(), 0) << "the driving card (logical 0) starts last";
    ASSERT_EQ(stops.size(), 3u) << "every card's stop packet";
    EXPECT_EQ(stops.back(), 0) << "the driving card stops last";
}

// A group on cards the program opened: the stream reads them and leaves them open.
TEST_F(StreamGroupTest, RunsOnCardsTheProgramOpened) {
    const KVD4093_STREAM_CARD given[] = {{KVD4093_CreateDevice(2), 5, 0}, {KVD4093_CreateDevice(0), 7, 0}};
    KVD4093_STREAM_CONFIG c = config(0, 1, 10000, 3000);
    KVD4093_STREAM *stream = KVD4093_OpenStreamOnDevices(given, 2, &c);
    ASSERT_NE(stream, nullptr) << KVD4093_GetStreamError(nullptr);
    streams_.push_back(stream);
    KVD4093_STREAM_CARD cards[2]{};
    ASSERT_EQ(KVD4093_GetStreamCards(stream, cards, 2), 2);
    EXPECT_EQ(cards[0].device, given[0].device);
    EXPECT_EQ(cards[1].physicalId, 7);
    ASSERT_EQ(KVD4093_StartStream(stream), 1) << KVD4093_GetStreamError(stream);
    const Collected collected = readToEnd(stream, 1000);
    EXPECT_EQ(collected.total(), 3000);
    expectCardSamples(collected, c, 2);
    KVD4093_CloseStream(stream);
    streams_.clear();
    for (const KVD4093_STREAM_CARD &card : given)
        EXPECT_EQ(KVD4093_ReleaseDevice(card.device), 1) << "the program's handle stayed open";
}

// The driving card's reads held for a while: the other card's queue fills and
// drops blocks, so those scans are one gap of the whole group, and every scan
// after it still holds both cards' samples at its own index.
TEST_F(StreamGroupTest, ABlockLostOnOneCardIsOneGapOfTheGroupAtItsScans) {
    KVD4093_STREAM_CONFIG c = group("id:7,id:9", 1, 10000, 20000);
    c.bufferSeconds = 0.2;
    c.onOverrun = KVD4093_STREAM_CONTINUE;
    KVD4093_STREAM *stream = started(c);
    ASSERT_NE(stream, nullptr);
    vcard::card(0).holdReads();
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    vcard::card(0).releaseReads();
    const Collected collected = readToEnd(stream, 100000);
    int gaps = 0;
    int64_t lost = 0;
    for (const KVD4093_STREAM_BLOCK &block : collected.blocks) {
        if (block.scansLostBefore == 0)
            continue;
        ++gaps;
        lost += block.scansLostBefore;
        EXPECT_EQ(block.gapCause, KVD4093_STREAM_GAP_OVERRUN);
        EXPECT_EQ(block.firstScan % 500, 0) << "the gap is whole blocks of 50 ms";
    }
    EXPECT_EQ(gaps, 1);
    EXPECT_GT(lost, 0);
    EXPECT_EQ(collected.total() + lost, 20000);
    KVD4093_STREAM_STATUS status{};
    ASSERT_EQ(KVD4093_GetStreamStatus(stream, &status), 1);
    EXPECT_EQ(status.scansLost, lost) << "counted once";
    expectCardSamples(collected, c, 2);
}

// A driving card that numbers the clock output otherwise (code 2 reaches our
// card's one bit as 0) drives no clock; a taker whose reads stop delivering
// loses it later. Either way the stream ends naming the card.
struct NoClockCase {
    const char *name;
    bool midRun;
};

class StreamNoClockTest : public StreamGroupTest, public ::testing::WithParamInterface<NoClockCase> {};

INSTANTIATE_TEST_SUITE_P(Takers, StreamNoClockTest,
                         ::testing::Values(NoClockCase{"AtTheStart", false}, NoClockCase{"WhileRunning", true}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_P(StreamNoClockTest, EndsTheStreamNamingTheCard) {
    KVD4093_STREAM_CONFIG c = group("id:7,id:9", 0, 1000, 0);
    if (!GetParam().midRun)
        c.clockOutputCode = 2;
    KVD4093_STREAM *stream = KVD4093_OpenStream(&c);
    ASSERT_NE(stream, nullptr) << KVD4093_GetStreamError(nullptr);
    streams_.push_back(stream);
    const std::string message = "card ID 9 received no clock: is its clock input wired to card ID 7's clock output?";
    if (!GetParam().midRun) {
        EXPECT_EQ(KVD4093_StartStream(stream), 0);
        EXPECT_EQ(KVD4093_GetStreamError(stream), message);
        return;
    }
    ASSERT_EQ(KVD4093_StartStream(stream), 1) << KVD4093_GetStreamError(stream);
    vcard::card(1).holdReads();
    uint16_t samples[2000];
    while (KVD4093_ReadStream(stream, samples, 1000, -1, nullptr) >= 0) {
    }
    KVD4093_STREAM_STATUS status{};
    ASSERT_EQ(KVD4093_GetStreamStatus(stream, &status), 1);
    EXPECT_EQ(status.failed, 1);
    EXPECT_EQ(KVD4093_GetStreamError(stream), message);
    vcard::card(1).releaseReads();
}

struct BadGroup {
    const char *name;
    std::function<KVD4093_STREAM *(KVD4093_STREAM_CONFIG &, KVD4093_HANDLE card)> open;
    const char *reason;
};

class StreamBadGroupTest : public StreamGroupTest, public ::testing::WithParamInterface<BadGroup> {};

KVD4093_STREAM *openNamed(KVD4093_STREAM_CONFIG &c, const char *cards) {
    c.cards = cards;
    return KVD4093_OpenStream(&c);
}

INSTANTIATE_TEST_SUITE_P(
    Refused, StreamBadGroupTest,
    ::testing::Values(
        BadGroup{"EmptyEntry", [](auto &c, auto) { return openNamed(c, "0,,1"); }, "cards \"0,,1\": \"\" is empty"},
        BadGroup{"SameCardTwice", [](auto &c, auto) { return openNamed(c, "id:7,id:9,id:7"); }, "\"id:7\" is named twice"},
        BadGroup{"MixedForms", [](auto &c, auto) { return openNamed(c, "0,id:9"); }, "name every card the same way"},
        BadGroup{"TooLong", [](auto &c, auto) { return openNamed(c, "0,1,2,3,4,5,6,7,8"); }, "9 cards, a group takes at most 8"},
        BadGroup{"MissingCard", [](auto &c, auto) { return openNamed(c, "id:7,id:99"); }, "card \"id:99\" does not open"},
        BadGroup{"ClockMode",
                 [](auto &c, auto) {
                     c.clockMode = 2;
                     return openNamed(c, "0,1");
                 },
                 "clockMode 2"},
        BadGroup{"NegativeCode",
                 [](auto &c, auto) {
                     c.clockInputCode = -1;
                     return openNamed(c, "0,1");
                 },
                 "clockInputCode -1"},
        BadGroup{"HandleTwice",
                 [](auto &c, KVD4093_HANDLE card) {
                     const KVD4093_STREAM_CARD cards[] = {{card, 7, 0}, {card, 9, 0}};
                     return KVD4093_OpenStreamOnDevices(cards, 2, &c);
                 },
                 "cards[1] (card ID 9) is given twice"},
        BadGroup{"NoCardsGiven", [](auto &c, auto) { return KVD4093_OpenStreamOnDevices(nullptr, 0, &c); },
                 "give 1 to 8 cards, not NULL"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_P(StreamBadGroupTest, IsRefusedAtTheOpenWithTheReason) {
    KVD4093_HANDLE card = KVD4093_CreateDevice(0);
    ASSERT_NE(card, KVD4093_INVALID_HANDLE);
    KVD4093_STREAM_CONFIG c = config(0, 1, 1000, 10);
    EXPECT_EQ(GetParam().open(c, card), nullptr);
    EXPECT_NE(std::string(KVD4093_GetStreamError(nullptr)).find(GetParam().reason), std::string::npos)
        << KVD4093_GetStreamError(nullptr);
    EXPECT_EQ(vcard::card(1).openFiles(), 0) << "the cards opened before the failure are released";
    KVD4093_ReleaseDevice(card);
}

} // namespace
} // namespace kvd::testing
