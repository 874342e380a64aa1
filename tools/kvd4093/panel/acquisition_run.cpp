#include "panel/acquisition_run.h"

#include <algorithm>
#include <chrono>
#include <vector>

#include "card/digital_io.h"
#include "common/errors.h"
#include "common/system.h"

namespace kvd::tool::panel {
namespace {

// The panel's thread takes at most this many samples at a time.
constexpr uint32_t kReadSamples = 1u << 16;
// ... and waits this long for them before it looks for a stop signal again.
constexpr int32_t kReadWaitMs = 50;
// The live view gets its scans in pieces of about this long.
constexpr double kLiveViewSeconds = 0.01;

KVD4093_STREAM *openStream(const std::vector<KVD4093_STREAM_CARD> &cards, const AcquisitionInfo &info,
                           AcquisitionRun *run, KVD4093_STREAM_CALLBACK toLiveView) {
    KVD4093_STREAM_CONFIG config{};
    config.firstChannel = info.firstChannel();
    config.lastChannel = info.lastChannel();
    config.scanRate = double(info.para.Frequency) / info.channelsPerCard();
    config.record = &info.para;
    config.onOverrun = KVD4093_STREAM_CONTINUE;
    config.reconnectSeconds = KVD4093_STREAM_RECONNECT_FOREVER;
    config.callbackScans = uint32_t(std::max(1.0, info.scanRate() * kLiveViewSeconds));
    config.callback = toLiveView;
    config.callbackContext = run;
    KVD4093_STREAM *stream = KVD4093_OpenStreamOnDevices(cards.data(), int32_t(cards.size()), &config);
    if (stream == nullptr)
        throw CallFailed(std::string("the acquisition cannot start: ") + KVD4093_GetStreamError(nullptr));
    return stream;
}

} // namespace

AcquisitionRun::AcquisitionRun(const std::vector<KVD4093_STREAM_CARD> &cards, const AcquisitionInfo &info,
                               SampleSink &liveView, Recording &recording)
    : info_(info), liveView_(liveView), recording_(recording),
      stream_(openStream(cards, info, this, &AcquisitionRun::toLiveView)) {
    KVD4093_GetStreamRecord(stream_, &info_.para);
    thread_ = std::thread([this] { run(); });
}

AcquisitionRun::~AcquisitionRun() {
    stop();
    KVD4093_CloseStream(stream_);
}

void AcquisitionRun::stopOnce() {
    if (!stopAsked_.exchange(true) && !KVD4093_StopStream(stream_))
        stopFailed_.store(true);
}

std::optional<std::string> AcquisitionRun::stop() {
    stopOnce();
    if (thread_.joinable())
        thread_.join();
    if (stopFailed_.load())
        return "KVD4093_ReleaseDeviceAD failed: " + std::string(KVD4093_GetStreamError(stream_));
    return std::nullopt;
}

std::optional<std::string> AcquisitionRun::failure() const {
    return reading_.load() ? std::nullopt : failure_;
}

RunFigures AcquisitionRun::figures() const {
    KVD4093_STREAM_STATUS status{};
    KVD4093_GetStreamStatus(stream_, &status);
    return {uint64_t(status.backlog), uint64_t(status.largestBacklog), uint64_t(status.scansLost), gaps_.load(),
            status.waitingForCard != 0};
}

void AcquisitionRun::writeDA(int32_t setup, int32_t value, int32_t channel) const {
    if (!KVD4093_WriteStreamDA(stream_, setup, value, channel))
        failCall("KVD4093_WriteDeviceDA");
}

void AcquisitionRun::setDO(uint16_t lines) const {
    if (!KVD4093_SetStreamDO(stream_, digitalStates(lines).data()))
        failCall("KVD4093_SetDeviceDO");
}

// On the stream's reader thread: the live view never falls behind the card.
void KVD4093_CALL AcquisitionRun::toLiveView(KVD4093_STREAM *, const uint16_t *samples, uint32_t scans,
                                             const KVD4093_STREAM_BLOCK *block, void *self) {
    static_cast<AcquisitionRun *>(self)->liveView_.write(samples, uint64_t(block->firstScan), scans);
}

void AcquisitionRun::run() {
    liveView_.begin(info_);
    recording_.begin(info_);
    const auto start = std::chrono::steady_clock::now();
    if (KVD4093_StartStream(stream_))
        readBlocks();
    else if (!stopAsked_.load())
        failure_ = "KVD4093_InitDeviceAD failed: " + std::string(KVD4093_GetStreamError(stream_));
    stopOnce();
    KVD4093_STREAM_STATUS status{};
    KVD4093_GetStreamStatus(stream_, &status);
    AcquisitionOutcome outcome;
    outcome.scans = uint64_t(status.scansRead);
    outcome.scansLost = uint64_t(status.scansLost);
    outcome.largestBacklog = uint64_t(status.largestBacklog);
    outcome.gapCount = gaps_.load();
    outcome.stopSignal = stopSignal();
    outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    liveView_.finish(outcome);
    recording_.finish(outcome);
    reading_.store(false);
}

// The stream's blocks to the recording until the stream has ended and
// everything it read was taken.
void AcquisitionRun::readBlocks() {
    const uint32_t maxScans = std::max<uint32_t>(1, kReadSamples / info_.channelCount());
    std::vector<uint16_t> samples(size_t(maxScans) * info_.channelCount());
    for (;;) {
        if (stopSignal() != 0)
            stopOnce();
        KVD4093_STREAM_BLOCK block{};
        const int64_t scans = KVD4093_ReadStream(stream_, samples.data(), maxScans, kReadWaitMs, &block);
        if (scans < 0)
            break;
        if (scans == 0)
            continue;
        if (block.scansLostBefore > 0) {
            gaps_.fetch_add(1);
            recording_.gap(uint64_t(block.firstScan - block.scansLostBefore), uint64_t(block.scansLostBefore));
        }
        KVD4093_STREAM_STATUS status{};
        if (KVD4093_GetStreamStatus(stream_, &status))
            recording_.noteBacklog(uint64_t(status.backlog));
        recording_.write(samples.data(), uint64_t(block.firstScan), size_t(scans));
    }
    KVD4093_STREAM_STATUS status{};
    if (KVD4093_GetStreamStatus(stream_, &status) && status.failed && !stopAsked_.load())
        failure_ = KVD4093_GetStreamError(stream_);
}

} // namespace kvd::tool::panel
