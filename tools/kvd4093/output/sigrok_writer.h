// Writes a sigrok session file (.sr, version 2: a zip of "version",
// "metadata" and the data) that PulseView and sigrok-cli open: one analog
// channel per AD channel, named ch0..., at the scan rate, its values float32
// (the codes, or their values on the scale) in chunks "analog-1-N-K"; the
// run's record (run_record.h) in a group "[kvd4093]" of the metadata.
//
// The zip is written with libzip, which lays out an archive when it is
// closed: while the acquisition runs, each channel's values stream to a
// temporary file of its own beside the target, so memory stays flat; at the
// end libzip copies them into the archive, a chunk at a time. A write that
// fails leaves no archive that can be completed: it is not kept.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "output/file_sink.h"
#include "output/output_file.h"
#include "output/run_record.h"

namespace kvd::tool {

class SigrokWriter final : public FileSink {
public:
    explicit SigrokWriter(std::string path);
    void begin(const AcquisitionInfo &info) override;
    void write(const uint16_t *samples, uint64_t firstScan, size_t scans) override;
    void gap(uint64_t firstScan, uint64_t scansLost) override;

    // The text of the "metadata" member.
    static std::string metadata(const RunRecord &run);

private:
    // The values that did not reach their files make no session.
    bool completable() const override { return !failed_; }
    void complete() override;
    void writeArchive();

    AcquisitionInfo info_;
    std::vector<std::unique_ptr<OutputFile>> channels_; // each channel's values so far
    std::vector<float> values_;                         // one channel of one block, reused
    std::vector<float> valueOfCode_;                    // 65536 entries
    uint64_t scans_ = 0;
    std::vector<ScanGap> gaps_;
    bool failed_ = false;
};

} // namespace kvd::tool
