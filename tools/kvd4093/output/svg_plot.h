// Draws the channels over time as an SVG picture a browser shows: a frame
// with time and code axes, one <path> per channel in its own colour, and a
// legend. Long acquisitions are reduced to the lowest and highest code of
// each pixel column, so the file stays small and the envelope stays true.
#pragma once

#include <string>
#include <vector>

#include "output/output_file.h"
#include "output/sample_sink.h"

namespace kvd::tool {

class SvgPlot final : public SampleSink {
public:
    explicit SvgPlot(std::string path);
    void begin(const AcquisitionInfo &info) override;
    void write(const uint16_t *samples, uint64_t firstScan, size_t scans) override;
    void finish(const AcquisitionOutcome &outcome) override;

private:
    struct Column {
        uint16_t low = 0xFFFF;
        uint16_t high = 0;
    };
    std::string picture(const AcquisitionOutcome &outcome) const;
    std::string channelPath(uint32_t channel, uint64_t scans) const;

    OutputFile file_;
    AcquisitionInfo info_;
    uint64_t scansPerColumn_ = 1;
    std::vector<std::vector<Column>> columns_; // per channel
};

} // namespace kvd::tool
