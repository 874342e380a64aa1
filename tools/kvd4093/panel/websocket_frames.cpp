#include "panel/websocket_frames.h"

#include <array>

namespace kvd::tool::panel::websocket {
namespace {

constexpr std::string_view kHandshakeGuid = "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";

uint32_t rotateLeft(uint32_t value, int bits) { return (value << bits) | (value >> (32 - bits)); }

// SHA-1, needed only for the handshake's key (no secret rests on it).
std::array<uint8_t, 20> sha1(std::string_view text) {
    uint32_t h[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
    std::string message(text);
    const uint64_t bits = uint64_t(text.size()) * 8;
    message.push_back(char(0x80));
    while (message.size() % 64 != 56)
        message.push_back(0);
    for (int shift = 56; shift >= 0; shift -= 8)
        message.push_back(char((bits >> shift) & 0xFF));
    for (size_t block = 0; block < message.size(); block += 64) {
        uint32_t w[80];
        for (int i = 0; i < 16; ++i) {
            const auto *b = reinterpret_cast<const uint8_t *>(message.data() + block + 4 * i);
            w[i] = uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | b[3];
        }
        for (int i = 16; i < 80; ++i)
            w[i] = rotateLeft(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
        uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
        for (int i = 0; i < 80; ++i) {
            uint32_t f, k;
            if (i < 20) {
                f = (b & c) | (~b & d);
                k = 0x5A827999;
            } else if (i < 40) {
                f = b ^ c ^ d;
                k = 0x6ED9EBA1;
            } else if (i < 60) {
                f = (b & c) | (b & d) | (c & d);
                k = 0x8F1BBCDC;
            } else {
                f = b ^ c ^ d;
                k = 0xCA62C1D6;
            }
            const uint32_t next = rotateLeft(a, 5) + f + e + k + w[i];
            e = d;
            d = c;
            c = rotateLeft(b, 30);
            b = a;
            a = next;
        }
        h[0] += a, h[1] += b, h[2] += c, h[3] += d, h[4] += e;
    }
    std::array<uint8_t, 20> digest{};
    for (size_t i = 0; i < digest.size(); ++i)
        digest[i] = uint8_t(h[i / 4] >> (24 - 8 * (i % 4)));
    return digest;
}

std::string base64(const uint8_t *bytes, size_t size) {
    static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    for (size_t i = 0; i < size; i += 3) {
        const uint32_t group = uint32_t(bytes[i]) << 16 | (i + 1 < size ? uint32_t(bytes[i + 1]) << 8 : 0) |
                               (i + 2 < size ? bytes[i + 2] : 0);
        text.push_back(kDigits[(group >> 18) & 63]);
        text.push_back(kDigits[(group >> 12) & 63]);
        text.push_back(i + 1 < size ? kDigits[(group >> 6) & 63] : '=');
        text.push_back(i + 2 < size ? kDigits[group & 63] : '=');
    }
    return text;
}

} // namespace

std::optional<FrameHeader> parseHeader(std::string_view bytes) {
    if (bytes.size() < 2)
        return std::nullopt;
    const auto byte = [&](size_t i) { return uint8_t(bytes[i]); };
    FrameHeader header;
    header.final = (byte(0) & 0x80) != 0;
    header.opcode = byte(0) & 0x0F;
    header.masked = (byte(1) & 0x80) != 0;
    const uint8_t shortLength = byte(1) & 0x7F;
    const size_t lengthBytes = shortLength == 126 ? 2 : shortLength == 127 ? 8 : 0;
    header.size = 2 + lengthBytes + (header.masked ? 4 : 0);
    if (bytes.size() < header.size)
        return std::nullopt;
    header.length = shortLength;
    if (lengthBytes > 0) {
        header.length = 0;
        for (size_t i = 0; i < lengthBytes; ++i)
            header.length = header.length << 8 | byte(2 + i);
    }
    if (header.masked)
        for (size_t i = 0; i < 4; ++i)
            header.mask[i] = byte(2 + lengthBytes + i);
    return header;
}

void applyMask(const FrameHeader &header, char *payload, size_t size) {
    if (header.masked)
        for (size_t i = 0; i < size; ++i)
            payload[i] = char(uint8_t(payload[i]) ^ header.mask[i % 4]);
}

std::string encodeFrame(uint8_t opcode, std::string_view payload) {
    std::string frame(1, char(0x80 | opcode));
    const uint64_t size = payload.size();
    if (size < 126) {
        frame.push_back(char(size));
    } else if (size <= 0xFFFF) {
        frame.push_back(char(126));
        frame.push_back(char(size >> 8));
        frame.push_back(char(size & 0xFF));
    } else {
        frame.push_back(char(127));
        for (int shift = 56; shift >= 0; shift -= 8)
            frame.push_back(char((size >> shift) & 0xFF));
    }
    return frame.append(payload);
}

std::string closeFrame(uint16_t code, std::string_view reason) {
    std::string payload{char(code >> 8), char(code & 0xFF)};
    return encodeFrame(kClose, payload.append(reason.substr(0, kMostControlBytes - 2)));
}

std::string acceptKey(std::string_view clientKey) {
    const std::array<uint8_t, 20> digest = sha1(std::string(clientKey).append(kHandshakeGuid));
    return base64(digest.data(), digest.size());
}

} // namespace kvd::tool::panel::websocket
