#include "acquisition/channel_summary.h"

#include <algorithm>
#include <cstdio>

namespace kvd::tool {

void ChannelSummary::begin(const AcquisitionInfo &info) {
    info_ = info;
    channels_.assign(info.channelCount(), {});
    scans_ = 0;
}

namespace {

// The samples of a block taken as rows of `lanes` samples, lane j holding
// channel j % channels: the lowest, highest and summed code of each lane
// over whole rows is a loop the compiler makes into vector instructions.
// Local arrays, which no pointer can reach, keep the running values out of
// memory.
constexpr size_t kMostLanes = 256; // at least 64, and the most channels (one byte numbers them)
// Sums of 16-bit codes stay in 32 bits over this many rows.
constexpr size_t kRowsPerSum = 65536;

struct Lanes {
    uint16_t low[kMostLanes];
    uint16_t high[kMostLanes];
    uint32_t sum[kMostLanes];
};

void addRows(Lanes &lanes, const uint16_t *samples, size_t rows, size_t width) {
    for (size_t row = 0; row < rows; ++row, samples += width)
        for (size_t lane = 0; lane < width; ++lane) {
            const uint16_t code = sampleValue(samples[lane]);
            lanes.low[lane] = std::min(lanes.low[lane], code);
            lanes.high[lane] = std::max(lanes.high[lane], code);
            lanes.sum[lane] += code;
        }
}

} // namespace

void ChannelSummary::write(const uint16_t *samples, uint64_t, size_t scans) {
    const size_t count = channels_.size();
    const size_t rowScans = std::max<size_t>(1, 64 / count);
    const size_t width = rowScans * count;
    Lanes lanes;
    std::fill(lanes.low, lanes.low + width, uint16_t(0xFFFF));
    std::fill(lanes.high, lanes.high + width, uint16_t(0));
    const auto fold = [&](size_t lanesUsed) {
        for (size_t lane = 0; lane < lanesUsed; ++lane) {
            Statistics &statistics = channels_[lane % count];
            statistics.low = std::min(statistics.low, lanes.low[lane]);
            statistics.high = std::max(statistics.high, lanes.high[lane]);
            statistics.sum += lanes.sum[lane];
            lanes.sum[lane] = 0;
        }
    };
    const size_t rows = scans / rowScans;
    std::fill(lanes.sum, lanes.sum + width, 0u);
    for (size_t row = 0; row < rows; row += kRowsPerSum) {
        const size_t chunk = std::min(kRowsPerSum, rows - row);
        addRows(lanes, samples + row * width, chunk, width);
        fold(width);
    }
    // The scans after the last whole row: one shorter row.
    const size_t rest = (scans - rows * rowScans) * count;
    addRows(lanes, samples + rows * width, 1, rest);
    fold(rest);
    scans_ += scans;
}

void ChannelSummary::finish(const AcquisitionOutcome &) {}

std::string ChannelSummary::table() const {
    std::string text = "channel      min      max        mean\n";
    for (size_t i = 0; i < channels_.size(); ++i) {
        char line[80];
        if (scans_ == 0)
            std::snprintf(line, sizeof line, "%7d        -        -           -\n", info_.channel(uint32_t(i)));
        else
            std::snprintf(line, sizeof line, "%7d %8u %8u %11.2f\n", info_.channel(uint32_t(i)),
                          unsigned(channels_[i].low), unsigned(channels_[i].high),
                          double(channels_[i].sum) / double(scans_));
        text += line;
    }
    return text;
}

} // namespace kvd::tool
