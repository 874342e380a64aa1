// The DA values and digital outputs written through a stream's card: they
// reach the card, and a card opened again can be given back those that went out.
#include <array>

#include "../../stream/card_outputs.h"
#include "card_model/driver_protocol.h"
#include "stream/stream_support.h"

namespace kvd::testing {
namespace {

// Outputs 0, 5 and 15 set, the others cleared.
constexpr std::array<uint8_t, 16> kDigital = {3, 2, 2, 2, 2, 3, 2, 2, 2, 2, 2, 2, 2, 2, 2, 3};
constexpr uint16_t kDigitalLines = 0x8021;

using StreamOutputsTest = StreamTest;

TEST_F(StreamOutputsTest, WritesThroughTheStreamReachItsCard) {
    const KVD4093_STREAM_CONFIG opened = config(0, 1, 1000);
    KVD4093_STREAM *stream = KVD4093_OpenStream(&opened);
    ASSERT_NE(stream, nullptr);
    streams_.push_back(stream);
    EXPECT_EQ(KVD4093_WriteStreamDA(stream, 0, 1234, 3), 1);
    EXPECT_EQ(KVD4093_SetStreamDO(stream, kDigital.data()), 1);
    EXPECT_EQ(KVD4093_SetStreamDO(stream, nullptr), 0);
    EXPECT_EQ(vcard::card(0).daValue(3), 1234);
    EXPECT_EQ(vcard::card(0).doLines(), kDigitalLines);
}

TEST_F(StreamOutputsTest, ABadStreamWritesNothing) {
    int32_t notAStream = 0;
    auto *bad = reinterpret_cast<KVD4093_STREAM *>(&notAStream);
    EXPECT_EQ(KVD4093_WriteStreamDA(bad, 0, 1234, 3), 0);
    EXPECT_EQ(KVD4093_SetStreamDO(bad, kDigital.data()), 0);
    EXPECT_EQ(vcard::card(0).daValue(3), -1);
    EXPECT_EQ(notAStream, 0) << "never written through";
}

class CardOutputsTest : public ::testing::Test {
protected:
    void SetUp() override {
        vcard::install({7, 9});
        first_ = KVD4093_CreateDevice(0);
        second_ = KVD4093_CreateDevice(1);
        ASSERT_NE(first_, nullptr);
        ASSERT_NE(second_, nullptr);
    }
    void TearDown() override {
        KVD4093_ReleaseDevice(first_);
        KVD4093_ReleaseDevice(second_);
        vcard::uninstall();
    }
    KVD4093_HANDLE first_ = nullptr;
    KVD4093_HANDLE second_ = nullptr;
};

TEST_F(CardOutputsTest, RestoreGivesAnotherCardTheLastValuesThatWentOut) {
    stream::CardOutputs outputs;
    ASSERT_EQ(outputs.writeDA(first_, 0, 100, 3), 1);
    ASSERT_EQ(outputs.writeDA(first_, 0, 200, 3), 1);
    ASSERT_EQ(outputs.writeDA(first_, 0, 4000, 5), 1);
    ASSERT_EQ(outputs.setDO(first_, kDigital.data()), 1);
    ASSERT_TRUE(outputs.restore(second_));
    EXPECT_EQ(vcard::card(1).daValue(3), 200);
    EXPECT_EQ(vcard::card(1).daValue(5), 4000);
    EXPECT_EQ(vcard::card(1).daValue(0), -1);
    EXPECT_EQ(vcard::card(1).doLines(), kDigitalLines);
}

TEST_F(CardOutputsTest, AWriteThatFailedIsNotRestored) {
    stream::CardOutputs outputs;
    vcard::card(0).failRequest({protocol::kBulkWrite, -1}, 0);
    EXPECT_EQ(outputs.writeDA(first_, 0, 100, 3), 0);
    EXPECT_EQ(outputs.setDO(first_, kDigital.data()), 0);
    vcard::card(0).clearRules();
    ASSERT_TRUE(outputs.restore(second_));
    EXPECT_EQ(vcard::card(1).daValue(3), -1);
    EXPECT_EQ(vcard::card(1).doLines(), 0);
}

} // namespace
} // namespace kvd::testing
