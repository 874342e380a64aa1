// The samples a card model delivers on pipe 2 while it acquires: scans of
// the configured channels FirstChannel to LastChannel, in order. Each sample
// is computed when it is read, from its place in the stream alone, so the
// stream needs no storage and compiles into a kernel driver as well as into
// the library (no allocation, no exceptions, no C library maths).
//
// Two signal sets:
//  - Waveforms (what a person sees): channel c carries, by c mod 4, a sine, a
//    square wave, a ramp or a faster sine; period T_c = 4096 >> ((c / 4) mod 4)
//    scans (the fast sine: T_c / 4); amplitude A_c = 0.9 / (1 + c / 4) of full
//    scale. Codes are offset binary: code = 32768 + round(v x 32767), v in
//    [-1, 1]; optional noise adds a uniform integer in [-n, n] codes drawn from
//    a seeded xorshift32 sequence, then the code is clamped to 0..65535. The
//    noise sequence starts again with every period of 4096 scans.
//    The waveforms are the signal wired to every card of a bench: a card's
//    scan k carries the waveforms' scan (phase + k), where the phase is the
//    bench's scan at which the card's scan 0 was taken (firmware.h); a card
//    alone has phase 0. Noise is the card's own, by its own scan index.
//  - Counting (for tests that check every sample): channel c in scan k gives
//    (c << 12) | (k & 0x0FFF), whatever the phase.
#pragma once

#include <cstdint>

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

    // Lends the stream memory for one period of its bytes. With it, each
    // start computes the period once and reads copy from it, which is many
    // times faster than computing every sample; the bytes are the same.
    // Without it (a kernel driver, which allocates nothing) every sample is
    // computed when it is read. The memory must outlive the stream.
    static constexpr uint32_t kMaxPeriodBytes = kScansPerPeriod * 256 * 2;
    void setPeriodStorage(uint8_t *storage, uint32_t capacity);

    // Starts again at scan 0 for the channels first to last (just first when
    // last is below it), phase 0.
    void start(uint8_t firstChannel, uint8_t lastChannel);
    // The waveforms' scan that scan 0 carries; only its place in the period counts.
    void setPhase(uint64_t scan);
    // Writes `size` bytes of samples, little-endian, and moves on past every
    // sample touched (an odd size delivers the low byte of the last one).
    void read(uint8_t *out, uint32_t size);
    // Moves on past `count` samples without writing them, as a read of them
    // would (the samples a card lost never reach the host).
    void skip(uint64_t count);
    // Samples delivered (or skipped) since the start.
    uint64_t samplesDelivered() const { return delivered_; }
    // Samples in a scan.
    uint32_t channels() const { return channels_; }

private:
    // The next sample of the stream, noise included; moves on past it.
    uint16_t nextSample();
    // The noise sequence's state before the sample at inPeriod_.
    uint32_t noiseStateAt(uint32_t inPeriod) const;
    void computePeriod();
    void copyFromPeriod(uint8_t *out, uint32_t size);

    Signals signals_ = Signals::Counting;
    Noise noise_;
    uint32_t firstChannel_ = 0;
    uint32_t channels_ = 1;      // channels in a scan
    uint32_t phase_ = 0;         // below kScansPerPeriod
    uint64_t delivered_ = 0;     // samples since the start
    uint32_t inPeriod_ = 0;      // the next sample's index within its period
    uint32_t random_ = 1;        // the noise sequence's state before that sample
    bool started_ = false;       // a read before any start streams channel 0
    uint8_t *period_ = nullptr;  // one period's bytes, when storage was lent
    uint32_t periodCapacity_ = 0;
    uint32_t periodBytes_ = 0;   // 0: compute every sample
};

} // namespace kvd::vcard
