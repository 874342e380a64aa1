// One acquisition of the panel, read on a thread of its own: set up, whole
// scans block by block into the sinks until stopped, then the card stopped
// and the sinks finished. The card is stopped as `acquire` stops it
// (AcquisitionStop): at once when asked, even while a read waits, and at
// once on a stop signal (StopOnSignal).
#pragma once

#include <atomic>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "acquisition/acquisition_stop.h"
#include "output/sample_sink.h"

namespace kvd::tool::panel {

class AcquisitionRun {
public:
    // Starts at once. The sinks see begin() before the set-up and finish() after the stop.
    AcquisitionRun(KVD4093_HANDLE card, const AcquisitionInfo &info, std::vector<SampleSink *> sinks);
    // Stops the card and waits for the reader.
    ~AcquisitionRun();
    AcquisitionRun(const AcquisitionRun &) = delete;
    AcquisitionRun &operator=(const AcquisitionRun &) = delete;

    // Stops the card (once) and waits for the reader; the error text when the
    // stop failed.
    std::optional<std::string> stop();
    // False once the reader has ended by itself: a failed set-up or read, or a stop signal.
    bool reading() const { return reading_.load(); }
    // Why the reader ended by itself, once reading() is false.
    std::optional<std::string> failure() const;
    const AcquisitionInfo &info() const { return info_; }

private:
    void read();
    void readBlocks();

    KVD4093_HANDLE card_;
    AcquisitionInfo info_;
    std::vector<SampleSink *> sinks_;
    AcquisitionStop stop_;
    std::atomic<bool> reading_{true};
    std::optional<std::string> failure_; // written by the reader before reading_ turns false
    bool stopped_ = false;               // the stop packet went out
    std::thread thread_;
};

} // namespace kvd::tool::panel
