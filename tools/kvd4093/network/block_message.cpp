#include "network/block_message.h"

#include <cstring>

namespace kvd::tool {
namespace {

constexpr uint8_t kMagic[4] = {'K', 'V', 'D', 'B'};

void put(uint8_t *at, uint64_t value, size_t bytes) {
    for (size_t i = 0; i < bytes; ++i)
        at[i] = uint8_t(value >> (8 * i));
}

uint64_t get(const uint8_t *at, size_t bytes) {
    uint64_t value = 0;
    for (size_t i = 0; i < bytes; ++i)
        value |= uint64_t(at[i]) << (8 * i);
    return value;
}

} // namespace

void encodeBlock(const BlockHeader &header, const uint16_t *samples, std::vector<uint8_t> &message) {
    const size_t sampleBytes = size_t(header.scans) * header.channels * sizeof(uint16_t);
    message.resize(kBlockHeaderBytes + sampleBytes);
    uint8_t *at = message.data();
    std::memcpy(at, kMagic, sizeof kMagic);
    put(at + 4, kBlockFormatVersion, 2);
    put(at + 6, kBlockHeaderBytes, 2);
    put(at + 8, header.runId, 8);
    put(at + 16, header.firstScan, 8);
    put(at + 24, header.scansLostBefore, 8);
    put(at + 32, header.scans, 4);
    put(at + 36, header.channels, 2);
    put(at + 38, 0, 2);
    // The samples are little-endian already, as the card sent them.
    if (sampleBytes > 0)
        std::memcpy(at + kBlockHeaderBytes, samples, sampleBytes);
}

std::optional<BlockView> decodeBlock(const uint8_t *message, size_t size) {
    if (size < kBlockHeaderBytes || std::memcmp(message, kMagic, sizeof kMagic) != 0 ||
        get(message + 4, 2) != kBlockFormatVersion)
        return std::nullopt;
    const size_t headerBytes = get(message + 6, 2);
    BlockView view;
    view.header.runId = get(message + 8, 8);
    view.header.firstScan = get(message + 16, 8);
    view.header.scansLostBefore = get(message + 24, 8);
    view.header.scans = uint32_t(get(message + 32, 4));
    view.header.channels = uint16_t(get(message + 36, 2));
    if (headerBytes < kBlockHeaderBytes || headerBytes > size ||
        (size - headerBytes) != uint64_t(view.header.scans) * view.header.channels * sizeof(uint16_t))
        return std::nullopt;
    view.samples = message + headerBytes;
    return view;
}

} // namespace kvd::tool
