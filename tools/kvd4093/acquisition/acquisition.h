// The acquisition: start the card, let a reader thread read it block after
// block into a bounded queue (block_reader.h), hand every block to the sinks
// on this thread until the planned scans are in or a stop signal comes,
// stop.
#pragma once

#include <vector>

#include "acquisition/block_reader.h"
#include "acquisition/progress_bar.h"
#include "output/sample_sink.h"

namespace kvd::tool {

// How the queue between the reader and the sinks behaves.
struct Streaming {
    double bufferSeconds = 2;       // the queue holds this long of samples ...
    OverrunChoice onOverrun = OverrunChoice::Stop; // ... and, when it is full, this happens
    double maxBacklogSeconds = 1;   // a backlog past this is warned of, once
};

// The queue holds at most this much memory, whatever --buffer asks for.
constexpr size_t kMostQueueBytes = size_t(256) << 20;

// Runs the acquisition the record describes on an open card. The sinks have
// seen begin() and see finish() whatever happens. Every way out stops the
// card first: a failed call then throws CallFailed, a failed write the
// sink's ToolError. A full queue under OverrunChoice::Stop ends the
// acquisition with outcome.overrun set, every block read written.
AcquisitionOutcome acquire(KVD4093_HANDLE card, const AcquisitionInfo &info, const std::vector<SampleSink *> &sinks,
                           ProgressBar &progress, const Streaming &streaming = {});

// The queue's shape for an acquisition: blocks of about 50 ms, as many as
// --buffer asks for (at least one) within kMostQueueBytes.
struct QueueShape {
    uint32_t blockScans = 1;
    size_t depth = 1;
    bool cut = false; // --buffer asked for more than kMostQueueBytes

    double seconds(const AcquisitionInfo &info) const { return double(depth) * blockScans / info.scanRate(); }
};
QueueShape queueShape(const AcquisitionInfo &info, double bufferSeconds);

} // namespace kvd::tool
