// Writes the samples as the card sent them, raw 16-bit little-endian codes
// (offset binary: 32768 is zero), scan after scan, channels in order; and
// beside FILE a small JSON sidecar FILE.json recording what the bytes are:
// rate, channels, card, the start (UTC in ISO 8601 and nanoseconds, the
// monotonic clock's nanoseconds, scan 0's seconds after it), sample and scan
// counts, the gaps where scans were dropped on the way (the file holds the
// scans around them back to back), whether the acquisition ran to its end,
// and the whole ADPara record.
// On standard output ("-") there is no sidecar.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "output/output_file.h"
#include "output/sample_sink.h"

namespace kvd::tool {

class BinWriter final : public SampleSink {
public:
    explicit BinWriter(std::string path);
    void begin(const AcquisitionInfo &info) override;
    void write(const uint16_t *samples, uint64_t firstScan, size_t scans) override;
    void gap(uint64_t firstScan, uint64_t scansLost) override;
    void finish(const AcquisitionOutcome &outcome) override;

    static std::string sidecarPath(const std::string &path) { return path + ".json"; }

private:
    OutputFile file_;
    std::optional<OutputFile> sidecar_; // none when the samples go to standard output
    AcquisitionInfo info_;
    std::vector<Gap> gaps_;
};

} // namespace kvd::tool
