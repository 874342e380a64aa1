// Keeps the lowest, highest and mean code of every channel and prints them
// when the acquisition is over.
#pragma once

#include <string>
#include <vector>

#include "output/sample_sink.h"

namespace kvd::tool {

class ChannelSummary final : public SampleSink {
public:
    void begin(const AcquisitionInfo &info) override;
    void write(const uint16_t *samples, uint64_t firstScan, size_t scans) override;
    void finish(const AcquisitionOutcome &outcome) override;

    // A table, one line per channel:
    //   channel      min      max        mean
    //         0     3278    62258    32768.00
    std::string table() const;

private:
    struct Statistics {
        uint16_t low = 0xFFFF;
        uint16_t high = 0;
        uint64_t sum = 0;
    };
    AcquisitionInfo info_;
    std::vector<Statistics> channels_;
    uint64_t scans_ = 0;
};

} // namespace kvd::tool
