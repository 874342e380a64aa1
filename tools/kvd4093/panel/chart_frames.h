// The live chart's data: every channel reduced to the lowest and highest
// code of each column of a fixed number of scans, handed out as binary
// frames of the columns completed since the last frame. The reader thread
// writes whole blocks; the frame sender takes a frame up to 30 times a
// second. A frame never exceeds kMaxFrameBytes: when the sender falls behind,
// the oldest columns are dropped and the next frame's first column index
// shows the gap.
//
// A frame, all numbers little-endian:
//   0  u8   kind, 1
//   1  u8   first channel
//   2  u16  channel count
//   4  u32  run: the acquisition's number, changed at every start
//   8  u32  scans per column
//   12 u32  columns in this frame
//   16 u64  index of the frame's first column, counted from the run's start
//   24      columns x channels x (u16 lowest, u16 highest), column after column
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "output/sample_sink.h"

namespace kvd::tool::panel {

constexpr size_t kFrameHeaderBytes = 24;
constexpr size_t kMaxFrameBytes = 64 * 1024;
constexpr uint8_t kChartFrameKind = 1;
// Columns across the page's chart: the view window is this many columns.
constexpr uint32_t kColumnsPerView = 1000;

// The most columns one frame holds for this many channels.
size_t maxColumnsPerFrame(uint32_t channels);

// Scans per column for a view of `seconds` at `scanRate` scans a second:
// kColumnsPerView columns across the view, but never so many columns a second
// that 30 frames a second would outgrow kMaxFrameBytes.
uint32_t scansPerColumnFor(double scanRate, double seconds, uint32_t channels);

class ChartFrames final : public SampleSink {
public:
    // `run` numbers the acquisition in every frame; `viewSeconds` sets the columns' width.
    ChartFrames(uint32_t run, double viewSeconds);

    void begin(const AcquisitionInfo &info) override;
    void write(const uint16_t *samples, uint64_t firstScan, size_t scans) override;
    void finish(const AcquisitionOutcome &) override {}

    // A new view window: the columns start again from the next scan.
    void setViewSeconds(double seconds);
    // Moves the columns completed since the last call into `frame` (replacing
    // its contents); false, with `frame` untouched, when there are none.
    bool takeFrame(std::vector<uint8_t> &frame);

    uint32_t scansPerColumn() const;

private:
    struct Extremes {
        uint16_t low;
        uint16_t high;
    };
    void startColumns();
    void completeColumn();

    mutable std::mutex mutex_;
    uint32_t run_;
    double viewSeconds_;
    double scanRate_ = 1;
    uint32_t firstChannel_ = 0;
    uint32_t channels_ = 1;
    uint32_t scansPerColumn_ = 1;
    size_t maxColumns_ = 1;
    // The column being filled, and how many scans it holds.
    std::vector<Extremes> open_;
    uint32_t openScans_ = 0;
    // Completed columns not yet taken, and the index of the first of them.
    std::vector<Extremes> done_;
    uint64_t firstDoneColumn_ = 0;
    uint64_t nextColumn_ = 0;
};

} // namespace kvd::tool::panel
