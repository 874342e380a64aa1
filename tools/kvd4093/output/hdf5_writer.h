// Writes an HDF5 file through the HDF5 library: one chunked, extendable
// dataset "samples" of uint16 codes, shape (scans, channels), grown chunk by
// chunk, with attributes saying what the codes are: the rates, the channels,
// the card, the start time, the whole ADPara record, the scale when one was
// given and whether the acquisition ran to its end; and a dataset "gaps",
// the scans lost on the way. h5py, h5dump, MATLAB and HDFView read it. A
// write that fails leaves a file that cannot be completed: it is not kept.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "output/file_sink.h"

namespace kvd::tool {

class Hdf5Writer final : public FileSink {
public:
    explicit Hdf5Writer(std::string path);
    ~Hdf5Writer() override;
    void begin(const AcquisitionInfo &info) override;
    void write(const uint16_t *samples, uint64_t firstScan, size_t scans) override;
    void gap(uint64_t firstScan, uint64_t scansLost) override;

private:
    template <typename Call> int64_t check(const char *verb, Call call);
    void writeChunk();
    void writeAttributes();
    void writeGaps();
    void closeAll();
    // What the library wrote before a failure is no file.
    bool completable() const override { return !failed_; }
    void complete() override;

    AcquisitionInfo info_;
    int64_t hdf5File_ = -1; // the library's identifiers (hid_t)
    int64_t dataset_ = -1;
    uint64_t chunkScans_ = 1;
    std::vector<uint16_t> chunk_; // the scans of the chunk being filled
    uint64_t chunkHeld_ = 0;      // scans in it
    uint64_t scans_ = 0;          // scans in chunks written
    std::vector<ScanGap> gaps_;
    bool failed_ = false;
};

} // namespace kvd::tool
