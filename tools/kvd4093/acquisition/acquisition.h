// The acquisition loop: start, read whole scans in small blocks until the
// planned scans are in or a stop signal comes, stop, and hand every scan to
// the sinks.
#pragma once

#include <vector>

#include "acquisition/progress_bar.h"
#include "output/sample_sink.h"

namespace kvd::tool {

// Runs the acquisition the record describes on an open card. The sinks have
// seen begin() and see finish() whatever happens. Every way out stops the
// card first: a failed call then throws CallFailed, a failed write the
// sink's ToolError.
AcquisitionOutcome acquire(KVD4093_HANDLE card, const AcquisitionInfo &info, const std::vector<SampleSink *> &sinks,
                           ProgressBar &progress);

} // namespace kvd::tool
