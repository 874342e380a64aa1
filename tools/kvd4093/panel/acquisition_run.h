// One acquisition of the panel, through the stream library: the stream's
// reader thread reads the card; its callback hands every scan to the live
// view, and a thread of the panel takes the stream's blocks for the
// recording, with the gaps between them. A recording slower than the card
// (a slow disk) makes gaps the recording records, never a stalled card: the
// stream drops whole blocks when its buffer is full and counts them.
//
// A card pulled out is waited for without limit while the page shows it
// lost; it is started again and the run goes on after the gap.
//
// A stop signal stops the stream at once (the panel's thread looks for one
// between blocks, and while a block is awaited), as `acquire` stops.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "KVD4093_stream.h"
#include "output/sample_sink.h"
#include "panel/recording.h"

namespace kvd::tool::panel {

// What the page shows of the run, in scans.
struct RunFigures {
    uint64_t backlog = 0;        // owed by the reads to the card's clock now
    uint64_t largestBacklog = 0; // since the start
    uint64_t scansLost = 0;      // dropped because the recording could not keep up
    uint64_t gaps = 0;           // the holes they left
    bool cardLost = false;       // the card was pulled out and is waited for
};

class AcquisitionRun {
public:
    // Opens a stream on `cards` (one card, or a group whose first card
    // drives the clock; `info` names the group's cards) with `info`'s record
    // and starts it on the panel's thread; throws CallFailed with the stream's reason when the
    // record is refused. Both sinks see begin() before the set-up and
    // finish() after the stop; both must outlive the run.
    AcquisitionRun(const std::vector<KVD4093_STREAM_CARD> &cards, const AcquisitionInfo &info, SampleSink &liveView,
                   Recording &recording);
    // Stops the card and waits for the thread.
    ~AcquisitionRun();
    AcquisitionRun(const AcquisitionRun &) = delete;
    AcquisitionRun &operator=(const AcquisitionRun &) = delete;

    // Stops the card (once) and waits for the thread; the error text when the stop failed.
    std::optional<std::string> stop();
    // False once the run has ended by itself: a failed set-up or read, or a stop signal.
    bool reading() const { return reading_.load(); }
    // Why the run ended by itself, once reading() is false.
    std::optional<std::string> failure() const;
    const AcquisitionInfo &info() const { return info_; }
    RunFigures figures() const;
    // The card as the stream has it: after a reconnection, the card opened again.
    KVD4093_HANDLE card() const { return KVD4093_GetStreamDevice(stream_); }
    // The outputs, written through the stream, which writes them again after
    // a reconnection; throw CallFailed when the card refuses.
    void writeDA(int32_t setup, int32_t value, int32_t channel) const;
    void setDO(uint16_t lines) const;

private:
    static void KVD4093_CALL toLiveView(KVD4093_STREAM *, const uint16_t *samples, uint32_t scans,
                                        const KVD4093_STREAM_BLOCK *block, void *self);
    void run();
    void readBlocks();
    void stopOnce();

    AcquisitionInfo info_;
    SampleSink &liveView_;
    Recording &recording_;
    KVD4093_STREAM *stream_ = nullptr;
    std::atomic<bool> stopAsked_{false};
    std::atomic<bool> stopFailed_{false};
    std::atomic<bool> reading_{true};
    std::atomic<uint64_t> gaps_{0};
    std::optional<std::string> failure_; // written by the thread before reading_ turns false
    std::thread thread_;
};

} // namespace kvd::tool::panel
