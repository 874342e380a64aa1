// The shape of a stream's buffer: blocks of about 50 ms, as many as the
// configuration's bufferSeconds asks for (at least one) within 256 MiB.
#pragma once

#include <cstddef>
#include <cstdint>

#include "KVD4093_stream.h"

namespace kvd::stream {

// A block is about this long: a program takes the scans block by block.
constexpr double kBlockSeconds = 0.05;
// Blocks never hold more samples than this (1 MiB).
constexpr uint32_t kMostBlockSamples = 1u << 19;
// The pool holds at most this much memory, whatever bufferSeconds asks for.
constexpr size_t kMostBufferBytes = size_t(KVD4093_STREAM_MOST_BUFFER_BYTES);

struct QueueShape {
    uint32_t blockScans = 1;
    size_t depth = 1;
    bool cut = false; // bufferSeconds asked for more than kMostBufferBytes

    double seconds(double scanRate) const { return double(depth) * blockScans / scanRate; }
    // The pool: two blocks more than the queue (block_queue.h).
    size_t poolBytes(uint32_t channels) const { return (depth + 2) * blockScans * channels * sizeof(uint16_t); }
};

QueueShape queueShape(double scanRate, uint32_t channels, double bufferSeconds);

} // namespace kvd::stream
