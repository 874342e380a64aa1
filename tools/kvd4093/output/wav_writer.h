// Writes a WAV file: 16-bit PCM, one WAV channel per AD channel, at the scan
// rate (rounded to whole hertz, at least 1), each code as a signed sample (code - 32768),
// as Audacity, sox and Python's wave read it. The sizes in the header are
// written at the end; on standard output, a pipe or a device, where they
// cannot be, they say "unknown" the way sox writes it, and readers read to
// the end of the data. So does a file beyond the 4 GiB a WAV size can count.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "output/file_sink.h"

namespace kvd::tool {

class WavWriter final : public FileSink {
public:
    explicit WavWriter(std::string path);
    void begin(const AcquisitionInfo &info) override;
    void write(const uint16_t *samples, uint64_t firstScan, size_t scans) override;

    // The 44-byte header for `scans` scans; nullopt scans: sizes unknown.
    static std::string header(const AcquisitionInfo &info, std::optional<uint64_t> scans);

private:
    void complete() override;

    AcquisitionInfo info_;
    uint64_t scans_ = 0; // whole scans in the file
    std::vector<uint16_t> frames_; // one block as signed samples, reused
};

} // namespace kvd::tool
