#include "acquisition/channel_summary.h"

#include <algorithm>
#include <cstdio>

namespace kvd::tool {

void ChannelSummary::begin(const AcquisitionInfo &info) {
    info_ = info;
    channels_.assign(info.channelCount(), {});
    scans_ = 0;
}

void ChannelSummary::write(const uint16_t *samples, uint64_t, size_t scans) {
    const size_t count = channels_.size();
    for (size_t scan = 0; scan < scans; ++scan) {
        for (size_t channel = 0; channel < count; ++channel) {
            const uint16_t code = sampleValue(samples[scan * count + channel]);
            Statistics &statistics = channels_[channel];
            statistics.low = std::min(statistics.low, code);
            statistics.high = std::max(statistics.high, code);
            statistics.sum += code;
        }
    }
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
