// One message of the ai topic: a header of 40 bytes, little-endian, then
// the block's samples as the card sent them (uint16 little-endian, scan
// after scan). docs/mqtt.md shows it byte by byte:
//    0  4  magic "KVDB"
//    4  2  format version (kBlockFormatVersion)
//    6  2  header size in bytes: where the samples start
//    8  8  run identifier, as the meta message's run_id
//   16  8  index of the block's first scan since the start
//   24  8  scans lost right before this block (dropped by the publisher)
//   32  4  scans in the block
//   36  2  samples a scan (channels)
//   38  2  0, reserved
// The publisher writes it and the collector reads it back, here and only here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace kvd::tool {

constexpr uint16_t kBlockFormatVersion = 1;
constexpr size_t kBlockHeaderBytes = 40;

struct BlockHeader {
    uint64_t runId = 0;
    uint64_t firstScan = 0;
    uint64_t scansLostBefore = 0;
    uint32_t scans = 0;
    uint16_t channels = 0;
};

// The message for the header and its scans x channels samples, into `message`.
void encodeBlock(const BlockHeader &header, const uint16_t *samples, std::vector<uint8_t> &message);

struct BlockView {
    BlockHeader header;
    const uint8_t *samples = nullptr; // header.scans x header.channels little-endian uint16
};

// The message read back; nullopt when it is no block of this format (the
// wrong magic, another version, a size that is not header + samples).
std::optional<BlockView> decodeBlock(const uint8_t *message, size_t size);

} // namespace kvd::tool
