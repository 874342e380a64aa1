// The acquisition: the stream library reads the card on a thread of its own
// into its bounded buffer; this hands every block it delivers to the sinks,
// with the gaps between them, until the planned scans are in or a stop
// signal comes, and stops.
#pragma once

#include <vector>

#include "KVD4093_stream.h"
#include "acquisition/progress_bar.h"
#include "output/sample_sink.h"

namespace kvd::tool {

// How the buffer between the card and the sinks behaves.
struct Streaming {
    double bufferSeconds = 2;               // the buffer holds this long of samples ...
    int32_t onOverrun = KVD4093_STREAM_STOP; // ... and, when it is full, this happens
    double maxBacklogSeconds = 1;           // a backlog past this is warned of, once
    // A group's clock: shared (the first card's) or every card its own, and
    // the record's codes for the clock out and in (0: our cards' 1 and 1).
    int32_t clockMode = KVD4093_STREAM_CLOCK_SHARED;
    int32_t clockOutputCode = 0;
    int32_t clockInputCode = 0;
    // A card pulled out: how long to wait for it (KVD4093_STREAM_RECONNECT_FOREVER: no limit); 0: the run ends.
    float reconnectSeconds = 0;
};

// A stream on the tool's open card, or on a group of them (the clock's
// driver first), closed (and so stopped) when it goes; the cards stay the
// caller's.
class CardStream {
public:
    // Throws CallFailed with the stream library's reason when it refuses.
    CardStream(const std::vector<KVD4093_STREAM_CARD> &cards, const AcquisitionInfo &info,
               const Streaming &streaming);
    ~CardStream() { KVD4093_CloseStream(stream_); }
    CardStream(const CardStream &) = delete;
    CardStream &operator=(const CardStream &) = delete;

    KVD4093_STREAM *get() const { return stream_; }
    // The buffer's shape: its blocks and how long it holds.
    KVD4093_STREAM_BUFFER buffer() const;
    // Its starts: the first, and one after every reconnection.
    std::vector<KVD4093_STREAM_SEGMENT> segments() const;

private:
    KVD4093_STREAM *stream_;
};

// Runs the acquisition the record describes. The sinks see begin() and
// finish() whatever happens, begin() with the start as the stream read it.
// Every way out stops the card first: a failed call then throws CallFailed,
// a failed write the sink's ToolError, an unplugged card a ToolError. A full
// buffer under KVD4093_STREAM_STOP ends the acquisition with
// outcome.overrun set, every block read written.
AcquisitionOutcome acquire(CardStream &stream, const AcquisitionInfo &info, const std::vector<SampleSink *> &sinks,
                           ProgressBar &progress, const Streaming &streaming);

} // namespace kvd::tool
