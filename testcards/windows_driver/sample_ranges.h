// Which samples of a card's stream each pipe-2 read gets. Under the card's
// spin lock a read only takes its range of the stream (reserve: a few
// additions); its samples are computed afterwards from the range alone, on
// the worker thread at PASSIVE_LEVEL. So no read, however large, keeps the
// processor at raised IRQL, and a stop or a status request never waits on the
// lock while samples are computed.
//
// The samples are those of the card model's stream (SampleStream), which
// computes each sample from its place in the stream: the waveforms without
// noise, scan after scan of the channels set at the last start.
#pragma once

#include <cstdint>

#include "card_model/sample_stream.h"

namespace kvd::testcard {

constexpr vcard::Signals kCardSignals = vcard::Signals::Waveforms;

// `bytes` bytes of the stream from sample `first` on, of scans of `channels`
// channels from `firstChannel` on.
struct SampleRange {
    uint64_t first = 0;
    uint32_t firstChannel = 0;
    uint32_t channels = 1;
    uint32_t bytes = 0;

    // Writes the range's bytes as SampleStream::read delivers them: each
    // sample least significant byte first, an odd count ending on a low byte.
    void fill(uint8_t *out) const;
};

// Where the stream stands: the samples given to reads since the last start.
class SampleLedger {
public:
    // A start: scan 0 again, of the channels first to last (just first when
    // last is below it), as the card model starts its stream.
    void restart(uint8_t firstChannel, uint8_t lastChannel);
    uint64_t delivered() const { return delivered_; }
    // The next `bytes` bytes of the stream, for one read; the stream moves on
    // past every sample touched.
    SampleRange reserve(uint32_t bytes);

private:
    uint64_t delivered_ = 0;
    uint32_t firstChannel_ = 0; // before any start: channel 0 alone, as the model
    uint32_t channels_ = 1;
};

} // namespace kvd::testcard
