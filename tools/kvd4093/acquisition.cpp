#include "acquisition.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <optional>

#include "errors.h"
#include "system.h"

namespace kvd::tool {
namespace {

// The set-up reads and discards this many samples before the first block.
constexpr uint32_t kSetUpSamples = 512;
// A block is about this long, so that Ctrl-C stops within it.
constexpr double kBlockSeconds = 0.05;
// Blocks never hold more samples than this (1 MiB).
constexpr uint32_t kMaxBlockSamples = 1u << 19;

using Clock = std::chrono::steady_clock;

uint32_t scansPerBlock(const AcquisitionInfo &info) {
    const double scans = info.scanRate() * kBlockSeconds;
    const uint32_t most = std::max<uint32_t>(1, kMaxBlockSamples / info.channelCount());
    return static_cast<uint32_t>(std::clamp(scans, 1.0, double(most)));
}

// Reads samples one block at a time and hands out whole scans: a read that
// ends inside a scan keeps the partial scan for the next one.
class ScanReader {
public:
    ScanReader(KVD4093_HANDLE card, uint32_t channels, uint32_t blockScans)
        : card_(card), channels_(channels), buffer_(size_t(blockScans) * channels) {}

    // The set-up took 512 samples; when that is not a whole number of scans
    // the rest of the partial scan is dropped, so every scan starts with the
    // first channel.
    bool skipPartialScan() {
        uint32_t skip = (channels_ - kSetUpSamples % channels_) % channels_;
        while (skip > 0 && !interrupted()) {
            uint32_t got = 0;
            if (!KVD4093_ReadDeviceAD(card_, buffer_.data(), skip, &got))
                return false;
            skip -= std::min(got, skip);
        }
        return true;
    }

    // Reads until `scans` whole scans are in the buffer; nullopt when a read failed.
    std::optional<const uint16_t *> read(uint32_t scans) {
        const uint32_t wanted = scans * channels_;
        while (held_ < wanted) {
            uint32_t got = 0;
            if (!KVD4093_ReadDeviceAD(card_, buffer_.data() + held_, wanted - held_, &got))
                return std::nullopt;
            held_ += std::min(got, wanted - held_);
        }
        held_ = 0;
        return buffer_.data();
    }

private:
    KVD4093_HANDLE card_;
    uint32_t channels_;
    std::vector<uint16_t> buffer_;
    uint32_t held_ = 0;
};

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
    if (!KVD4093_InitDeviceAD(card, &info.para)) {
        finishAll();
        failCall("KVD4093_InitDeviceAD");
    }
    const uint32_t blockScans = scansPerBlock(info);
    ScanReader reader(card, info.channelCount(), blockScans);
    std::optional<std::string> readFailure;
    if (!reader.skipPartialScan())
        readFailure = libraryMessage("KVD4093_ReadDeviceAD");
    while (!readFailure && outcome.scans < info.plannedScans && !interrupted()) {
        const auto scans = static_cast<uint32_t>(std::min<uint64_t>(blockScans, info.plannedScans - outcome.scans));
        const std::optional<const uint16_t *> samples = reader.read(scans);
        if (!samples) {
            readFailure = libraryMessage("KVD4093_ReadDeviceAD");
            break;
        }
        for (SampleSink *sink : sinks)
            sink->write(*samples, outcome.scans, scans);
        outcome.scans += scans;
        progress.update(outcome.scans);
    }
    outcome.interrupted = outcome.scans < info.plannedScans && !readFailure;
    // The stop's failures are logged under the set-up's name.
    const bool stopped = KVD4093_ReleaseDeviceAD(card) != 0;
    outcome.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    finishAll();
    if (readFailure)
        throw CallFailed("KVD4093_ReadDeviceAD failed: " + *readFailure);
    if (!stopped)
        failCall("KVD4093_ReleaseDeviceAD", "KVD4093_InitDeviceAD");
    return outcome;
}

} // namespace kvd::tool
