#include "panel/chart_frames.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace kvd::tool::panel {
namespace {

constexpr uint32_t kFramesASecond = 30;
constexpr size_t kBytesPerExtremes = 4;

template <typename T> void put(std::vector<uint8_t> &out, size_t at, T value) {
    for (size_t i = 0; i < sizeof(T); ++i)
        out[at + i] = static_cast<uint8_t>(static_cast<uint64_t>(value) >> (8 * i));
}

} // namespace

size_t maxColumnsPerFrame(uint32_t channels) {
    return (kMaxFrameBytes - kFrameHeaderBytes) / (kBytesPerExtremes * std::max<uint32_t>(channels, 1));
}

uint32_t scansPerColumnFor(double scanRate, double seconds, uint32_t channels) {
    const double forView = std::ceil(scanRate * seconds / kColumnsPerView);
    // Half the room of a frame at 30 frames a second leaves slack for a late sender.
    const double mostColumnsASecond = double(maxColumnsPerFrame(channels)) * kFramesASecond / 2;
    const double forFrames = std::ceil(scanRate / mostColumnsASecond);
    return static_cast<uint32_t>(std::clamp(std::max(forView, forFrames), 1.0, double(UINT32_MAX)));
}

ChartFrames::ChartFrames(uint32_t run, double viewSeconds) : run_(run), viewSeconds_(viewSeconds) {}

void ChartFrames::begin(const AcquisitionInfo &info) {
    const std::lock_guard lock(mutex_);
    scanRate_ = info.scanRate();
    firstChannel_ = uint32_t(info.firstChannel());
    channels_ = info.channelCount();
    maxColumns_ = maxColumnsPerFrame(channels_);
    startColumns();
}

void ChartFrames::setViewSeconds(double seconds) {
    const std::lock_guard lock(mutex_);
    viewSeconds_ = seconds;
    startColumns();
}

uint32_t ChartFrames::scansPerColumn() const {
    const std::lock_guard lock(mutex_);
    return scansPerColumn_;
}

void ChartFrames::startColumns() {
    scansPerColumn_ = scansPerColumnFor(scanRate_, viewSeconds_, channels_);
    open_.assign(channels_, Extremes{0xFFFF, 0});
    openScans_ = 0;
    done_.clear();
    firstDoneColumn_ = 0;
    nextColumn_ = 0;
}

void ChartFrames::completeColumn() {
    if (done_.size() / channels_ >= maxColumns_) {
        done_.erase(done_.begin(), done_.begin() + channels_);
        ++firstDoneColumn_;
    }
    if (done_.empty())
        firstDoneColumn_ = nextColumn_;
    done_.insert(done_.end(), open_.begin(), open_.end());
    ++nextColumn_;
    std::fill(open_.begin(), open_.end(), Extremes{0xFFFF, 0});
    openScans_ = 0;
}

void ChartFrames::write(const uint16_t *samples, uint64_t, size_t scans) {
    const std::lock_guard lock(mutex_);
    size_t scan = 0;
    while (scan < scans) {
        const size_t inColumn = std::min<size_t>(scans - scan, scansPerColumn_ - openScans_);
        const uint16_t *at = samples + scan * channels_;
        for (size_t s = 0; s < inColumn; ++s, at += channels_) {
            for (uint32_t c = 0; c < channels_; ++c) {
                const uint16_t value = sampleValue(at[c]);
                open_[c].low = std::min(open_[c].low, value);
                open_[c].high = std::max(open_[c].high, value);
            }
        }
        scan += inColumn;
        openScans_ += uint32_t(inColumn);
        if (openScans_ == scansPerColumn_)
            completeColumn();
    }
}

bool ChartFrames::takeFrame(std::vector<uint8_t> &frame) {
    const std::lock_guard lock(mutex_);
    if (done_.empty())
        return false;
    const size_t columns = done_.size() / channels_;
    frame.assign(kFrameHeaderBytes + done_.size() * kBytesPerExtremes, 0);
    put<uint8_t>(frame, 0, kChartFrameKind);
    put<uint8_t>(frame, 1, uint8_t(firstChannel_));
    put<uint16_t>(frame, 2, uint16_t(channels_));
    put<uint32_t>(frame, 4, run_);
    put<uint32_t>(frame, 8, scansPerColumn_);
    put<uint32_t>(frame, 12, uint32_t(columns));
    put<uint64_t>(frame, 16, firstDoneColumn_);
    size_t at = kFrameHeaderBytes;
    for (const Extremes &extremes : done_) {
        put<uint16_t>(frame, at, extremes.low);
        put<uint16_t>(frame, at + 2, extremes.high);
        at += kBytesPerExtremes;
    }
    done_.clear();
    return true;
}

} // namespace kvd::tool::panel
