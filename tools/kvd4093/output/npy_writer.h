// Writes a NumPy array file (.npy, format 1.0): uint16 codes, shape (scans,
// channels), C order, as numpy.load and numpy.load(mmap_mode="r") read it.
// The header's shape is written again at the end (the header is padded so
// that any count fits in place), so a continuous or stopped acquisition gives
// the scans it holds.
#pragma once

#include <string>

#include "output/file_sink.h"

namespace kvd::tool {

class NpyWriter final : public FileSink {
public:
    explicit NpyWriter(std::string path);
    void begin(const AcquisitionInfo &info) override;
    void write(const uint16_t *samples, uint64_t firstScan, size_t scans) override;

    // The whole header, magic to newline, for this shape: always kHeaderBytes.
    static std::string header(uint64_t scans, uint32_t channels);
    static constexpr size_t kHeaderBytes = 128;

private:
    void complete() override { file().patch(0, header(scans_, channels_)); }

    uint32_t channels_ = 1;
    uint64_t scans_ = 0; // whole scans in the file
};

} // namespace kvd::tool
