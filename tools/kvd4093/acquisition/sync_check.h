// The wiring check of a group: one signal wired to the same AD channel of
// every card. The check keeps the first scans of that channel of each card
// and finds, by cross-correlation against the first card's, how many scans
// each card lags: 0 on a shared clock, the start order's distance when the
// cards run on clocks of their own.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "output/sample_sink.h"

namespace kvd::tool {

class SyncCheck : public SampleSink {
public:
    // The channel of every card that carries the signal.
    explicit SyncCheck(int32_t channel) : channel_(channel) {}

    void begin(const AcquisitionInfo &info) override;
    void write(const uint16_t *samples, uint64_t firstScan, size_t scans) override;
    void finish(const AcquisitionOutcome &) override {}

    // Scans each card lags the first (the first's own lag is 0); a card
    // behind has a positive lag.
    std::vector<int64_t> lags() const;
    // A line a card after the first: "ID9: 0 scans: aligned" or
    // "ID9: 37 scans behind ID7: the clock is not shared".
    std::string report() const;

    // The scans kept of each card: enough for lags of a few thousand scans.
    static constexpr size_t kKeptScans = 8192;

private:
    int32_t channel_;
    AcquisitionInfo info_;
    std::vector<std::vector<double>> kept_; // a card's channel, scan after scan
    uint64_t nextScan_ = 0;
    bool broken_ = false; // a gap in the kept scans: no lag can be told
};

// The lag of `signal` behind `reference`, in samples, by the largest
// normalised cross-correlation over lags of up to a quarter of their length.
int64_t lagBehind(const std::vector<double> &reference, const std::vector<double> &signal);

} // namespace kvd::tool
