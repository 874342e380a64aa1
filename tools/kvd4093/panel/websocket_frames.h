// The WebSocket protocol's frames (RFC 6455), as much as the panel speaks:
// the server's unmasked frames, the header of a client's frame (read before
// its payload, so a frame is refused by the length it declares), and the
// key of the opening handshake's answer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kvd::tool::panel::websocket {

enum Opcode : uint8_t { kContinuation = 0, kText = 1, kBinary = 2, kClose = 8, kPing = 9, kPong = 10 };

constexpr uint16_t kCloseNormal = 1000;
constexpr uint16_t kCloseProtocolError = 1002;
constexpr uint16_t kCloseUnsupported = 1003;
constexpr uint16_t kCloseTooBig = 1009;
// A control frame (close, ping, pong) carries at most this much.
constexpr uint64_t kMostControlBytes = 125;
// The longest header a frame may have: 2 bytes, 8 of length, 4 of mask.
constexpr size_t kLongestHeader = 14;

struct FrameHeader {
    bool final = false;
    uint8_t opcode = 0;
    bool masked = false;
    uint8_t mask[4] = {};
    uint64_t length = 0; // the payload's declared length
    size_t size = 0;     // the header's own bytes
};

// The header at the start of `bytes`; nullopt while it is not all there.
std::optional<FrameHeader> parseHeader(std::string_view bytes);

// Unmasks (or masks) `payload` in place with the header's key.
void applyMask(const FrameHeader &header, char *payload, size_t size);

// A whole unfragmented frame as the server sends it (no mask).
std::string encodeFrame(uint8_t opcode, std::string_view payload);
std::string closeFrame(uint16_t code, std::string_view reason);

// The Sec-WebSocket-Accept value answering a client's Sec-WebSocket-Key.
std::string acceptKey(std::string_view clientKey);

} // namespace kvd::tool::panel::websocket
