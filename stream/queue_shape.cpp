#include "queue_shape.h"

#include <algorithm>
#include <cmath>

namespace kvd::stream {

QueueShape queueShape(double scanRate, uint32_t channels, double bufferSeconds) {
    QueueShape shape;
    const uint32_t mostScans = std::max<uint32_t>(1, kMostBlockSamples / channels);
    shape.blockScans = static_cast<uint32_t>(std::clamp(scanRate * kBlockSeconds, 1.0, double(mostScans)));
    const double blocks = std::ceil(bufferSeconds * scanRate / shape.blockScans - 1e-9);
    const size_t blockBytes = size_t(shape.blockScans) * channels * sizeof(uint16_t);
    // The pool holds two blocks more than the queue (block_queue.h).
    const size_t most = std::max<size_t>(1, kMostBufferBytes / blockBytes - 2);
    shape.depth = static_cast<size_t>(std::clamp(blocks, 1.0, double(most)));
    shape.cut = blocks > double(most);
    return shape;
}

} // namespace kvd::stream
