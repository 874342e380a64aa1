// Writes the samples as the card sent them, raw 16-bit little-endian codes
// (offset binary: 32768 is zero), scan after scan, channels in order; and
// beside FILE a JSON sidecar FILE.json recording what the bytes are
// (sidecar.h). On standard output ("-") there is no sidecar.
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
    void commitSamples();

    OutputFile file_;
    std::optional<OutputFile> sidecar_; // none when the samples go to standard output
    AcquisitionInfo info_;
    uint64_t scans_ = 0; // whole scans in the file
    std::vector<ScanGap> gaps_;
    bool earlierSidecarRemoved_ = false;
};

} // namespace kvd::tool
