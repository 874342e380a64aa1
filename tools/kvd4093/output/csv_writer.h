// Writes scans as CSV: a header naming the columns, then one scan a line:
//   scan,time_s,ch0,ch1,...
//   0,0.0000000,32768,62258,...
// scan counts from 0, time_s is scan / scan rate in seconds, and each channel
// column holds the raw 16-bit code (offset binary: 32768 is zero). Scans
// dropped on the way leave a comment line where they are missing, and the
// scan and time columns go on from the scan after them:
//   # gap: first_scan=2000 scans_lost=7500
// Lines are made while the block before is still being written (write_behind.h).
#pragma once

#include <string>
#include <vector>

#include "output/output_file.h"
#include "output/sample_sink.h"
#include "output/write_behind.h"

namespace kvd::tool {

class CsvWriter final : public SampleSink {
public:
    explicit CsvWriter(std::string path);
    void begin(const AcquisitionInfo &info) override;
    void write(const uint16_t *samples, uint64_t firstScan, size_t scans) override;
    void gap(uint64_t firstScan, uint64_t scansLost) override;
    void finish(const AcquisitionOutcome &outcome) override;

private:
    OutputFile file_;
    uint32_t channels_ = 1;
    double scanRate_ = 1;
    ByteBlock text_; // one block of lines, reused
    WriteBehind behind_{file_};
};

} // namespace kvd::tool
