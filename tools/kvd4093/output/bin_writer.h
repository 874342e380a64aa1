// Writes the samples as the card sent them, raw 16-bit little-endian codes
// (offset binary: 32768 is zero), scan after scan, channels in order; and
// beside FILE a small JSON sidecar FILE.json recording what the bytes are:
// rate, channels, card, start time (UTC, ISO 8601), sample and scan counts,
// whether the acquisition ran to its end, and the whole ADPara record.
// On standard output ("-") there is no sidecar.
#pragma once

#include <optional>
#include <string>

#include "output/output_file.h"
#include "output/sample_sink.h"

namespace kvd::tool {

class BinWriter final : public SampleSink {
public:
    explicit BinWriter(std::string path);
    void begin(const AcquisitionInfo &info) override;
    void write(const uint16_t *samples, uint64_t firstScan, size_t scans) override;
    void finish(const AcquisitionOutcome &outcome) override;

    static std::string sidecarPath(const std::string &path) { return path + ".json"; }

private:
    OutputFile file_;
    std::optional<OutputFile> sidecar_; // none when the samples go to standard output
    AcquisitionInfo info_;
};

} // namespace kvd::tool
