// Writes scans as CSV: a header naming the columns, then one scan a line:
//   scan,time_s,ch0,ch1,...
//   0,0.0000000,32768,62258,...
// scan counts from 0, time_s is scan / scan rate in seconds, and each channel
// column holds the raw 16-bit code (offset binary: 32768 is zero), or with a
// scale its value, the unit in the column's name (ch0_V). Scans that never
// arrived leave a comment line ("# 1200 scans lost from scan 5000") and a
// jump in the scan numbers. Lines are made while the blocks before are
// still being written (write_behind.h).
#pragma once

#include <string>
#include <vector>

#include "output/file_sink.h"
#include "output/write_behind.h"

namespace kvd::tool {

class CsvWriter final : public FileSink {
public:
    explicit CsvWriter(std::string path);
    void begin(const AcquisitionInfo &info) override;
    void write(const uint16_t *samples, uint64_t firstScan, size_t scans) override;
    void gap(uint64_t firstScan, uint64_t scansLost) override;

    // The header line for these channels and scale.
    static std::string header(const AcquisitionInfo &info);

private:
    std::exception_ptr settle() override { return behind_.drain(); }

    AcquisitionInfo info_;
    size_t valueChars_ = 5;
    ByteBlock text_; // one block of lines
    WriteBehind behind_{file()};
};

} // namespace kvd::tool
