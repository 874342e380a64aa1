#include "acquisition/acquisition.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>

#include "acquisition/stop_on_signal.h"
#include "common/errors.h"
#include "common/system.h"

namespace kvd::tool {
namespace {

// The writer looks at the backlog and redraws the progress at least this
// often, blocks or none.
constexpr int32_t kWriterWakeUpMs = 100;

using Clock = std::chrono::steady_clock;

bool wantsMore(const AcquisitionInfo &info, const AcquisitionOutcome &outcome) {
    return info.continuous || outcome.scans + outcome.scansLost < info.plannedScans;
}

KVD4093_STREAM_CONFIG streamConfig(const AcquisitionInfo &info, const Streaming &streaming) {
    KVD4093_STREAM_CONFIG config{};
    config.firstChannel = info.firstChannel();
    config.lastChannel = info.lastChannel();
    // The stream sets the record's Frequency to scan rate x channels: the
    // record's own comes back.
    config.scanRate = double(info.para.Frequency) / info.channelsPerCard();
    config.record = &info.para;
    config.bufferSeconds = streaming.bufferSeconds;
    config.onOverrun = streaming.onOverrun;
    config.scans = info.continuous ? 0 : int64_t(info.plannedScans);
    config.clockMode = streaming.clockMode;
    config.clockOutputCode = streaming.clockOutputCode;
    config.clockInputCode = streaming.clockInputCode;
    config.reconnectSeconds = streaming.reconnectSeconds;
    return config;
}

// The stream's reason for its failure. A failed call of the card library is
// told as the tool tells every failed call, its message in the terminal's
// encoding (the stream gives it in UTF-8).
std::string streamFailure(KVD4093_STREAM *stream, const char *function) {
    const std::string reason = KVD4093_GetStreamError(stream);
    return reason.rfind(std::string(function) + " failed: ", 0) == 0 ? failureText(function) : reason;
}

KVD4093_STREAM_STATUS statusOf(KVD4093_STREAM *stream) {
    KVD4093_STREAM_STATUS status{};
    KVD4093_GetStreamStatus(stream, &status);
    return status;
}

// The plan with the start the stream read just before the card started; a
// stream that never started gets the host's clocks of now.
AcquisitionInfo withStart(const AcquisitionInfo &planned, KVD4093_STREAM *stream) {
    AcquisitionInfo info = planned;
    if (!KVD4093_GetStreamStartTime(stream, &info.startUtcNanoseconds, &info.startMonotonicNanoseconds)) {
        info.startUtcNanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                       std::chrono::system_clock::now().time_since_epoch())
                                       .count();
        info.startMonotonicNanoseconds =
            std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
    }
    info.startTime = utcTimestamp(std::chrono::system_clock::time_point(
        std::chrono::duration_cast<std::chrono::system_clock::duration>(
            std::chrono::nanoseconds(info.startUtcNanoseconds))));
    return info;
}

double secondsSince(const AcquisitionInfo &info) {
    const Clock::time_point start(
        std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(info.startMonotonicNanoseconds)));
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Hands the stream's blocks to the sinks, in order, with the gaps between
// them, until the stream has ended and every block is taken.
class Writer {
public:
    Writer(KVD4093_STREAM *stream, const AcquisitionInfo &info, const std::vector<SampleSink *> &sinks,
           ProgressBar &progress, const Streaming &streaming, AcquisitionOutcome &outcome)
        : stream_(stream), info_(info), sinks_(sinks), progress_(progress), streaming_(streaming),
          outcome_(outcome) {}

    void run(uint32_t blockScans) {
        std::vector<uint16_t> samples(size_t(blockScans) * info_.channelCount());
        for (;;) {
            KVD4093_STREAM_BLOCK block{};
            const int64_t scans = KVD4093_ReadStream(stream_, samples.data(), blockScans, kWriterWakeUpMs, &block);
            if (scans > 0)
                write(samples.data(), block, uint64_t(scans));
            const KVD4093_STREAM_STATUS status = statusOf(stream_);
            warnOfBacklog(uint64_t(status.largestBacklog));
            progress_.update(outcome_.scans + outcome_.scansLost, double(status.backlog) / info_.scanRate(),
                             awayNote(status));
            if (scans < 0)
                return;
        }
    }

    void gap(uint64_t firstScan, uint64_t scans, bool cardAway = false) {
        if (scans == 0)
            return;
        for (SampleSink *sink : sinks_)
            sink->gap(firstScan, scans);
        outcome_.scansLost += scans;
        if (outcome_.firstGaps.size() < AcquisitionOutcome::kListedGaps)
            outcome_.firstGaps.push_back({firstScan, scans, cardAway});
        ++outcome_.gapCount;
        if (cardAway) {
            outcome_.scansAway += scans;
            ++outcome_.awayGaps;
        }
    }

private:
    void write(const uint16_t *samples, const KVD4093_STREAM_BLOCK &block, uint64_t scans) {
        const auto firstScan = uint64_t(block.firstScan);
        gap(firstScan - uint64_t(block.scansLostBefore), uint64_t(block.scansLostBefore),
            block.gapCause == KVD4093_STREAM_GAP_DISCONNECTED);
        for (SampleSink *sink : sinks_)
            sink->write(samples, firstScan, scans);
        outcome_.scans += scans;
    }

    // "card lost, waiting" while the stream waits for a card pulled out;
    // after one came back, how often and how many scans its absence cost.
    std::string awayNote(const KVD4093_STREAM_STATUS &status) const {
        if (status.waitingForCard != 0)
            return "card lost, waiting";
        if (outcome_.awayGaps == 0)
            return "";
        return std::to_string(outcome_.awayGaps) + " reconnection" + (outcome_.awayGaps == 1 ? "" : "s") + ", " +
               std::to_string(outcome_.scansAway) + " scans lost";
    }

    void warnOfBacklog(uint64_t backlog) {
        const double seconds = double(backlog) / info_.scanRate();
        if (warned_ || seconds <= streaming_.maxBacklogSeconds)
            return;
        warned_ = true;
        progress_.finish();
        std::fprintf(stderr,
                     "kvd4093: warning: the reads fell %llu scans (%.2f s) behind the card's clock, more than "
                     "--max-backlog (%g s): the card's memory may have overflowed and lost samples\n",
                     static_cast<unsigned long long>(backlog), seconds, streaming_.maxBacklogSeconds);
    }

    KVD4093_STREAM *stream_;
    const AcquisitionInfo &info_;
    const std::vector<SampleSink *> &sinks_;
    ProgressBar &progress_;
    const Streaming &streaming_;
    AcquisitionOutcome &outcome_;
    bool warned_ = false;
};

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

// A card pulled out fails every request, even those its driver answers
// without the card, such as the count of cards.
bool unplugged(KVD4093_HANDLE card) { return KVD4093_GetDeviceCount(card) == 0; }

} // namespace

CardStream::CardStream(const std::vector<KVD4093_STREAM_CARD> &cards, const AcquisitionInfo &info,
                       const Streaming &streaming) {
    const KVD4093_STREAM_CONFIG config = streamConfig(info, streaming);
    const bool group = cards.size() > 1;
    stream_ = group ? KVD4093_OpenStreamOnDevices(cards.data(), int32_t(cards.size()), &config)
                    : KVD4093_OpenStreamOnDevice(cards.front().device, &config);
    if (stream_ == nullptr)
        throw CallFailed(std::string(group ? "KVD4093_OpenStreamOnDevices" : "KVD4093_OpenStreamOnDevice") +
                         " failed: " + KVD4093_GetStreamError(nullptr));
}

KVD4093_STREAM_BUFFER CardStream::buffer() const {
    KVD4093_STREAM_BUFFER buffer{};
    KVD4093_GetStreamBuffer(stream_, &buffer);
    return buffer;
}

std::vector<KVD4093_STREAM_SEGMENT> CardStream::segments() const {
    std::vector<KVD4093_STREAM_SEGMENT> segments(size_t(std::max(KVD4093_GetStreamSegments(stream_, nullptr, 0), 0)));
    segments.resize(size_t(std::max(KVD4093_GetStreamSegments(stream_, segments.data(), int32_t(segments.size())), 0)));
    return segments;
}

AcquisitionOutcome acquire(CardStream &cardStream, const AcquisitionInfo &planned,
                           const std::vector<SampleSink *> &sinks, ProgressBar &progress, const Streaming &streaming) {
    KVD4093_STREAM *const stream = cardStream.get();
    // Watching from before the set-up: its first read waits for 512
    // samples, minutes at the lowest rates, and the stop ends that wait.
    const StopOnSignal watcher([stream] { KVD4093_StopStream(stream); });
    const bool started = stopSignal() == 0 && KVD4093_StartStream(stream) != 0;
    const AcquisitionInfo info = withStart(planned, stream);
    try {
        for (SampleSink *sink : sinks)
            sink->begin(info);
    } catch (const std::exception &) {
        KVD4093_StopStream(stream);
        throw;
    }
    AcquisitionOutcome outcome;
    const auto finishAll = [&] {
        progress.finish();
        for (SampleSink *sink : sinks)
            sink->finish(outcome);
    };
    // A set-up that failed. A stream that did not start without failing was
    // stopped before or during the set-up: nothing was acquired, and the stop
    // signal says why.
    if (!started && statusOf(stream).failed != 0) {
        const std::string failure = streamFailure(stream, "KVD4093_InitDeviceAD");
        finishAll();
        throw CallFailed(failure);
    }

    Writer writer(stream, info, sinks, progress, streaming, outcome);
    KVD4093_STREAM_STATUS status{};
    try {
        if (started)
            writer.run(cardStream.buffer().blockScans);
        status = statusOf(stream);
        outcome.largestBacklog = uint64_t(status.largestBacklog);
        // What was dropped after the last block read.
        const uint64_t lost = uint64_t(std::max<int64_t>(status.scansLost, 0));
        writer.gap(outcome.scans + outcome.scansLost, lost > outcome.scansLost ? lost - outcome.scansLost : 0);
    } catch (const std::exception &) {
        // A failed write, or anything else (no memory): the card stops and
        // the files end as well as they can.
        KVD4093_StopStream(stream);
        progress.finish();
        finishQuietly(sinks, outcome);
        throw;
    }
    outcome.overrun = status.overrun != 0;
    const bool failed = status.failed != 0;
    if (!failed && !outcome.overrun && wantsMore(info, outcome))
        outcome.stopSignal = stopSignal();
    const bool stopped = KVD4093_StopStream(stream) != 0;
    outcome.seconds = secondsSince(info);
    finishAll();
    // A card not back in time: the stream's message names it and the scan.
    if (const std::string reason = KVD4093_GetStreamError(stream);
        failed && streaming.reconnectSeconds != 0 && reason.rfind("card ID ", 0) == 0)
        throw ToolError(reason);
    if (failed && unplugged(KVD4093_GetStreamDevice(stream)))
        throw ToolError("card unplugged after " + std::to_string(outcome.scans) + " scans");
    if (failed)
        throw CallFailed(streamFailure(stream, "KVD4093_ReadDeviceAD"));
    // The stop's failures are logged under the set-up's name. A card pulled
    // out (and waited for) cannot take its stop: nothing runs on it to stop.
    if (!stopped && !unplugged(KVD4093_GetStreamDevice(stream)))
        failCall("KVD4093_ReleaseDeviceAD", "KVD4093_InitDeviceAD");
    return outcome;
}

} // namespace kvd::tool
