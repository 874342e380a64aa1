#include "platform/virtual/sample_stream.h"

#include <algorithm>
#include <cstring>

namespace kvd::vcard {

uint16_t SampleStream::sampleAt(uint32_t channel, uint64_t scan) {
    return static_cast<uint16_t>(channel << 12 | (scan & 0x0FFF));
}

void SampleStream::start(uint8_t firstChannel, uint8_t lastChannel) {
    const uint32_t last = std::max(firstChannel, lastChannel);
    period_.clear();
    period_.reserve(size_t(kScansPerPeriod) * (last - firstChannel + 1) * 2);
    for (uint32_t scan = 0; scan < kScansPerPeriod; ++scan) {
        for (uint32_t channel = firstChannel; channel <= last; ++channel) {
            const uint16_t value = sampleAt(channel, scan);
            period_.push_back(static_cast<uint8_t>(value));
            period_.push_back(static_cast<uint8_t>(value >> 8));
        }
    }
    position_ = 0;
}

void SampleStream::read(uint8_t *out, uint32_t size) {
    if (period_.empty())
        start(0, 0);
    uint64_t offset = position_ % period_.size();
    for (uint32_t done = 0; done < size;) {
        const uint32_t chunk = static_cast<uint32_t>(std::min<uint64_t>(size - done, period_.size() - offset));
        std::memcpy(out + done, period_.data() + offset, chunk);
        done += chunk;
        offset = 0;
    }
    position_ += size + (size & 1);
}

} // namespace kvd::vcard
