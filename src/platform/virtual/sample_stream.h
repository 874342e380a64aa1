// The samples a virtual card delivers on pipe 2 while it acquires: scans of
// the configured channels FirstChannel to LastChannel, in order. One period of
// the stream (4096 scans) is computed when the acquisition starts and then
// copied out, so reads cost what a memcpy costs.
//
// Two signal sets:
//  - Waveforms (what a person sees): channel c carries, by c mod 4, a sine, a
//    square wave, a ramp or a faster sine; period T_c = 4096 >> ((c / 4) mod 4)
//    scans (the fast sine: T_c / 4); amplitude A_c = 0.9 / (1 + c / 4) of full
//    scale. Codes are offset binary: code = 32768 + round(v x 32767), v in
//    [-1, 1]; optional noise adds a uniform integer in [-n, n] codes drawn from
//    a seeded xorshift32 sequence, then the code is clamped to 0..65535.
//  - Counting (for tests that check every sample): channel c in scan k gives
//    (c << 12) | (k & 0x0FFF).
#pragma once

#include <cstdint>
#include <vector>

namespace kvd::vcard {

enum class Signals { Waveforms, Counting };

struct Noise {
    uint16_t amplitude = 0; // peak, in codes; 0 adds none
    uint32_t seed = 1;
};

class SampleStream {
public:
    // Scans repeat after this many: the stream is periodic.
    static constexpr uint32_t kScansPerPeriod = 4096;

    // The noise-free sample of channel c in scan k.
    static uint16_t sampleAt(Signals signals, uint32_t channel, uint64_t scan);

    void setSignals(Signals signals, Noise noise);

    // Starts again at scan 0 for the channels first to last (just first when
    // last is below it).
    void start(uint8_t firstChannel, uint8_t lastChannel);
    // Writes `size` bytes of samples, little-endian, and moves on past every
    // sample touched (an odd size delivers the low byte of the last one).
    void read(uint8_t *out, uint32_t size);
    // Samples delivered since the start.
    uint64_t samplesDelivered() const { return position_ / 2; }

private:
    Signals signals_ = Signals::Counting;
    Noise noise_;
    std::vector<uint8_t> period_; // one period of the stream, as bytes on the wire
    uint64_t position_ = 0;       // byte offset into the endless stream, always even
};

} // namespace kvd::vcard
