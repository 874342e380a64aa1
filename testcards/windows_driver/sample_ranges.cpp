#include "sample_ranges.h"

namespace kvd::testcard {

void SampleRange::fill(uint8_t *out) const {
    uint64_t scan = first / channels;
    uint32_t inScan = uint32_t(first % channels);
    for (uint32_t done = 0; done < bytes; done += 2) {
        const uint16_t sample = vcard::SampleStream::sampleAt(kCardSignals, firstChannel + inScan, scan);
        out[done] = uint8_t(sample);
        if (done + 1 < bytes)
            out[done + 1] = uint8_t(sample >> 8);
        if (++inScan == channels) {
            inScan = 0;
            ++scan;
        }
    }
}

void SampleLedger::restart(uint8_t firstChannel, uint8_t lastChannel) {
    firstChannel_ = firstChannel;
    channels_ = (lastChannel > firstChannel ? lastChannel : firstChannel) - firstChannel + 1u;
    delivered_ = 0;
}

SampleRange SampleLedger::reserve(uint32_t bytes) {
    const SampleRange range{delivered_, firstChannel_, channels_, bytes};
    delivered_ += (uint64_t(bytes) + 1) / 2;
    return range;
}

} // namespace kvd::testcard
