// What one run was, as every format that records it writes it out (the
// sidecar, the HDF5 attributes, the sigrok session's metadata): what was
// known before the first scan (rate, channels, card, start times, scale),
// the scans the file holds and the scans lost on the way. Whether the run
// ran to its end is worked out here, once.
#pragma once

#include <cstdint>
#include <vector>

#include "output/sample_sink.h"

namespace kvd::tool {

struct RunRecord {
    AcquisitionInfo info;
    uint64_t scans = 0; // whole scans in the file
    std::vector<ScanGap> gaps;

    uint64_t scansLost() const;
    // Continuous, or every planned scan is in the file or was lost on the way.
    bool complete() const;
    // The channel numbers, in the order of the file's columns.
    std::vector<int32_t> channels() const;
};

} // namespace kvd::tool
