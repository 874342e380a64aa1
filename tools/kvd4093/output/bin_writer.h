// Writes the samples as the card sent them, raw 16-bit little-endian codes
// (offset binary: 32768 is zero), scan after scan, channels in order; and
// beside FILE a JSON sidecar FILE.json recording what the bytes are
// (sidecar.h). On standard output ("-") there is no sidecar.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "output/file_sink.h"
#include "output/output_file.h"

namespace kvd::tool {

class BinWriter final : public FileSink {
public:
    explicit BinWriter(std::string path);
    void begin(const AcquisitionInfo &info) override;
    void write(const uint16_t *samples, uint64_t firstScan, size_t scans) override;
    void gap(uint64_t firstScan, uint64_t scansLost) override;

    // What the sidecar's name adds to the samples' name.
    static constexpr std::string_view kSidecarSuffix = ".json";
    static std::string sidecarPath(const std::string &path) { return path + std::string(kSidecarSuffix); }

private:
    void commitSamples();
    void completeBeside() override;

    std::optional<OutputFile> sidecar_; // none when the samples go to standard output
    AcquisitionInfo info_;
    uint64_t scans_ = 0; // whole scans in the file
    std::vector<ScanGap> gaps_;
    bool earlierSidecarRemoved_ = false;
};

} // namespace kvd::tool
