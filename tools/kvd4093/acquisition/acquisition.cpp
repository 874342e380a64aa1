#include "acquisition/acquisition.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>

#include "acquisition/acquisition_stop.h"
#include "common/errors.h"
#include "common/system.h"

namespace kvd::tool {
namespace {

// The set-up reads and discards this many samples before the first block.
constexpr uint32_t kSetUpSamples = 512;
// A block is about this long: the files grow block by block.
constexpr double kBlockSeconds = 0.05;
// Blocks never hold more samples than this (1 MiB).
constexpr uint32_t kMaxBlockSamples = 1u << 19;

using Clock = std::chrono::steady_clock;

uint32_t scansPerBlock(const AcquisitionInfo &info) {
    const double scans = info.scanRate() * kBlockSeconds;
    const uint32_t most = std::max<uint32_t>(1, kMaxBlockSamples / info.channelCount());
    return static_cast<uint32_t>(std::clamp(scans, 1.0, double(most)));
}

bool stopAsked(const AcquisitionStop &stop) { return stop.requested() || stopSignal() != 0; }

// Reads samples one block at a time and hands out whole scans: a read that
// ends inside a scan keeps the partial scan for the next one. Reading ends
// early when a stop is asked for.
class ScanReader {
public:
    ScanReader(KVD4093_HANDLE card, const AcquisitionStop &stop, uint32_t channels, uint32_t blockScans)
        : card_(card), stop_(stop), channels_(channels), buffer_(size_t(blockScans) * channels) {}

    // The set-up took 512 samples; when that is not a whole number of scans
    // the rest of the partial scan is dropped, so every scan starts with the
    // first channel.
    bool skipPartialScan() {
        uint32_t skip = (channels_ - kSetUpSamples % channels_) % channels_;
        while (skip > 0 && !stopAsked(stop_)) {
            uint32_t got = 0;
            if (!KVD4093_ReadDeviceAD(card_, buffer_.data(), skip, &got))
                return false;
            skip -= std::min(got, skip);
        }
        return true;
    }

    // Reads until `scans` whole scans are in the buffer; false when a read
    // failed or a stop was asked for.
    bool read(uint32_t scans) {
        const uint32_t wanted = scans * channels_;
        while (held_ < wanted) {
            if (stopAsked(stop_))
                return false;
            uint32_t got = 0;
            if (!KVD4093_ReadDeviceAD(card_, buffer_.data() + held_, wanted - held_, &got))
                return false;
            held_ += std::min(got, wanted - held_);
        }
        held_ = 0;
        return true;
    }

    const uint16_t *samples() const { return buffer_.data(); }

private:
    KVD4093_HANDLE card_;
    const AcquisitionStop &stop_;
    uint32_t channels_;
    std::vector<uint16_t> buffer_;
    uint32_t held_ = 0;
};

bool wantsMore(const AcquisitionInfo &info, const AcquisitionOutcome &outcome) {
    return info.continuous || outcome.scans < info.plannedScans;
}

uint32_t nextBlockScans(const AcquisitionInfo &info, const AcquisitionOutcome &outcome, uint32_t blockScans) {
    if (info.continuous)
        return blockScans;
    return static_cast<uint32_t>(std::min<uint64_t>(blockScans, info.plannedScans - outcome.scans));
}

// Reads block after block into the sinks until the scans are in, a stop is
// asked for or a read fails; returns the read's failure message, if any.
std::optional<std::string> readBlocks(ScanReader &reader, const AcquisitionStop &stop, const AcquisitionInfo &info,
                                      uint32_t blockScans, const std::vector<SampleSink *> &sinks,
                                      ProgressBar &progress, AcquisitionOutcome &outcome) {
    if (!reader.skipPartialScan() && !stopAsked(stop))
        return libraryMessage("KVD4093_ReadDeviceAD");
    while (wantsMore(info, outcome) && !stopAsked(stop)) {
        const uint32_t scans = nextBlockScans(info, outcome, blockScans);
        const bool complete = reader.read(scans);
        // A read that returns after the stop may hold samples the card took
        // at the stop's own rate: that block is dropped.
        if (stopAsked(stop))
            break;
        if (!complete)
            return libraryMessage("KVD4093_ReadDeviceAD");
        for (SampleSink *sink : sinks)
            sink->write(reader.samples(), outcome.scans, scans);
        outcome.scans += scans;
        progress.update(outcome.scans);
    }
    return std::nullopt;
}

// A card pulled out fails every request, even those its driver answers
// without the card, such as the count of cards.
bool unplugged(KVD4093_HANDLE card) { return KVD4093_GetDeviceCount(card) == 0; }

// After a failed write: the other files are finished as far as they can be.
void finishQuietly(const std::vector<SampleSink *> &sinks, const AcquisitionOutcome &outcome) {
    for (SampleSink *sink : sinks) {
        try {
            sink->finish(outcome);
        } catch (const std::exception &) {
            // the first failure is the one reported
        }
    }
}

} // namespace

AcquisitionOutcome acquire(KVD4093_HANDLE card, const AcquisitionInfo &info, const std::vector<SampleSink *> &sinks,
                           ProgressBar &progress) {
    for (SampleSink *sink : sinks)
        sink->begin(info);
    AcquisitionOutcome outcome;
    const auto finishAll = [&] {
        progress.finish();
        for (SampleSink *sink : sinks)
            sink->finish(outcome);
    };

    const Clock::time_point start = Clock::now();
    AcquisitionStop stop(card);
    std::optional<std::string> readFailure;
    try {
        // Watching from before the set-up: its first read waits for 512
        // samples, minutes at the lowest rates.
        const StopOnSignal watcher(stop);
        if (!stop.start(info.para) && !stopAsked(stop)) {
            const std::string failure = libraryMessage("KVD4093_InitDeviceAD");
            stop.stop();
            finishAll();
            throw CallFailed("KVD4093_InitDeviceAD failed: " + failure);
        }
        const uint32_t blockScans = scansPerBlock(info);
        ScanReader reader(card, stop, info.channelCount(), blockScans);
        readFailure = readBlocks(reader, stop, info, blockScans, sinks, progress, outcome);
    } catch (const CallFailed &) {
        throw; // the card is stopped and the sinks finished already
    } catch (const std::exception &) {
        // A failed write, or anything else (no memory, no thread): the card
        // stops and the files end as well as they can.
        stop.stop();
        progress.finish();
        finishQuietly(sinks, outcome);
        throw;
    }
    if (!readFailure && wantsMore(info, outcome))
        outcome.stopSignal = stopSignal();
    // The stop's failures are logged under the set-up's name.
    const bool stopped = stop.stop();
    outcome.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    finishAll();
    if (readFailure && unplugged(card))
        throw ToolError("card unplugged after " + std::to_string(outcome.scans) + " scans");
    if (readFailure)
        throw CallFailed("KVD4093_ReadDeviceAD failed: " + *readFailure);
    if (!stopped)
        failCall("KVD4093_ReleaseDeviceAD", "KVD4093_InitDeviceAD");
    return outcome;
}

} // namespace kvd::tool
