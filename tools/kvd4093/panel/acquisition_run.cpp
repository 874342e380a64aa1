#include "panel/acquisition_run.h"

#include <algorithm>
#include <chrono>

#include "common/errors.h"
#include "common/system.h"

namespace kvd::tool::panel {
namespace {

// The set-up reads and discards this many samples before the first block.
constexpr uint32_t kSetUpSamples = 512;
// A block is about this long, as in `acquire`.
constexpr double kBlockSeconds = 0.05;
// Blocks never hold more samples than this (1 MiB).
constexpr uint32_t kMaxBlockSamples = 1u << 19;

uint32_t scansPerBlock(const AcquisitionInfo &info) {
    const double scans = info.scanRate() * kBlockSeconds;
    const uint32_t most = std::max<uint32_t>(1, kMaxBlockSamples / info.channelCount());
    return static_cast<uint32_t>(std::clamp(scans, 1.0, double(most)));
}

} // namespace

AcquisitionRun::AcquisitionRun(KVD4093_HANDLE card, const AcquisitionInfo &info, std::vector<SampleSink *> sinks)
    : card_(card), info_(info), sinks_(std::move(sinks)), stop_(card), thread_([this] { read(); }) {}

AcquisitionRun::~AcquisitionRun() { stop(); }

std::optional<std::string> AcquisitionRun::stop() {
    stop_.stop();
    if (thread_.joinable())
        thread_.join();
    if (!stopped_)
        return "KVD4093_ReleaseDeviceAD failed: " + libraryMessage("KVD4093_InitDeviceAD");
    return std::nullopt;
}

std::optional<std::string> AcquisitionRun::failure() const {
    return reading_.load() ? std::nullopt : failure_;
}

void AcquisitionRun::read() {
    for (SampleSink *sink : sinks_)
        sink->begin(info_);
    const auto start = std::chrono::steady_clock::now();
    AcquisitionOutcome outcome;
    {
        // Watching from before the set-up, whose first read may wait long.
        // The stop sets nothing up once it was asked for, and stops the card
        // again when a stop came while the set-up ran.
        const StopOnSignal watcher(stop_);
        if (stop_.start(info_.para))
            readBlocks();
        else if (!stop_.requested())
            failure_ = "KVD4093_InitDeviceAD failed: " + libraryMessage("KVD4093_InitDeviceAD");
    }
    stopped_ = stop_.stop();
    outcome.stopSignal = stopSignal();
    outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    for (SampleSink *sink : sinks_)
        sink->finish(outcome);
    reading_.store(false);
}

// Whole scans, block after block, until a stop is asked for or a read fails.
void AcquisitionRun::readBlocks() {
    const uint32_t channels = info_.channelCount();
    const uint32_t blockScans = scansPerBlock(info_);
    const uint32_t wanted = blockScans * channels;
    std::vector<uint16_t> buffer(wanted);
    const auto stopAsked = [&] { return stop_.requested() || stopSignal() != 0; };
    // The set-up took 512 samples: the rest of a partial scan is dropped, so
    // every scan starts with the first channel.
    uint32_t skip = (channels - kSetUpSamples % channels) % channels;
    uint32_t held = 0;
    uint64_t scans = 0;
    while (!stopAsked()) {
        const uint32_t asked = skip > 0 ? skip : wanted - held;
        uint32_t got = 0;
        const bool read = KVD4093_ReadDeviceAD(card_, buffer.data() + (skip > 0 ? 0 : held), asked, &got) != 0;
        // A read that returns after the stop may hold samples the card took
        // at the stop's own rate: they are dropped.
        if (stopAsked())
            return;
        if (!read) {
            failure_ = "KVD4093_ReadDeviceAD failed: " + libraryMessage("KVD4093_ReadDeviceAD");
            return;
        }
        got = std::min(got, asked);
        if (skip > 0) {
            skip -= got;
            continue;
        }
        held += got;
        if (held < wanted)
            continue;
        for (SampleSink *sink : sinks_)
            sink->write(buffer.data(), scans, blockScans);
        scans += blockScans;
        held = 0;
    }
}

} // namespace kvd::tool::panel
