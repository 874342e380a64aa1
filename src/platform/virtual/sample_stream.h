// The samples a virtual card delivers on pipe 2 while it acquires: scans of
// the configured channels, one period of the stream computed when the
// acquisition starts and then copied out, so reads cost what a memcpy costs.
#pragma once

#include <cstdint>
#include <vector>

namespace kvd::vcard {

class SampleStream {
public:
    // Scans repeat after this many: the stream is periodic.
    static constexpr uint32_t kScansPerPeriod = 4096;

    // The sample of channel c in scan k.
    static uint16_t sampleAt(uint32_t channel, uint64_t scan);

    // Starts again at scan 0 for the channels first to last (just first when
    // last is below it).
    void start(uint8_t firstChannel, uint8_t lastChannel);
    // Writes `size` bytes of samples, little-endian, and moves on past every
    // sample touched (an odd size delivers the low byte of the last one).
    void read(uint8_t *out, uint32_t size);

private:
    std::vector<uint8_t> period_; // one period of the stream, as bytes on the wire
    uint64_t position_ = 0;       // byte offset into the endless stream, always even
};

} // namespace kvd::vcard
