#include "panel/websocket_frames.h"

#include <gtest/gtest.h>

#include <string>

namespace kvd::tool::panel::websocket {
namespace {

std::string bytes(std::initializer_list<int> values) {
    std::string text;
    for (int value : values)
        text.push_back(char(value));
    return text;
}

TEST(WebSocketFramesTest, AHeaderIsReadWholeWithTheLengthItDeclares) {
    struct Case {
        const char *name;
        std::string bytes;
        bool complete;
        uint8_t opcode;
        bool final;
        uint64_t length;
        size_t size;
    };
    const Case cases[] = {
        {"one byte", bytes({0x81}), false, 0, false, 0, 0},
        {"short, masked", bytes({0x81, 0x85, 1, 2, 3, 4}), true, kText, true, 5, 6},
        {"short, mask cut", bytes({0x81, 0x85, 1, 2}), false, 0, false, 0, 0},
        {"16-bit length", bytes({0x01, 0xFE, 0x10, 0x00, 1, 2, 3, 4}), true, kText, false, 4096, 8},
        {"64-bit length, 1 GiB", bytes({0x82, 0xFF, 0, 0, 0, 0, 0x40, 0, 0, 0, 1, 2, 3, 4}), true, kBinary, true,
         uint64_t(1) << 30, 14},
        {"64-bit length cut", bytes({0x81, 0xFF, 0, 0, 0, 0}), false, 0, false, 0, 0},
        {"close, unmasked", bytes({0x88, 0x02}), true, kClose, true, 2, 2},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<FrameHeader> header = parseHeader(c.bytes);
        ASSERT_EQ(header.has_value(), c.complete);
        if (!c.complete)
            continue;
        EXPECT_EQ(header->opcode, c.opcode);
        EXPECT_EQ(header->final, c.final);
        EXPECT_EQ(header->length, c.length);
        EXPECT_EQ(header->size, c.size);
    }
}

TEST(WebSocketFramesTest, TheHandshakeAnswersTheKeyOfRfc6455sExample) {
    EXPECT_EQ(acceptKey("dGhlIHNhbXBsZSBub25jZQ=="), "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=");
}

} // namespace
} // namespace kvd::tool::panel::websocket
