#include "acquisition/acquisition.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>

#include "acquisition/acquisition_stop.h"
#include "common/errors.h"
#include "common/system.h"

namespace kvd::tool {
namespace {

// A block is about this long: the files grow block by block.
constexpr double kBlockSeconds = 0.05;
// Blocks never hold more samples than this (1 MiB).
constexpr uint32_t kMaxBlockSamples = 1u << 19;
// The writer looks at the backlog and redraws the progress at least this
// often, blocks or none.
constexpr auto kWriterWakeUp = std::chrono::milliseconds(100);

using Clock = std::chrono::steady_clock;

uint32_t scansPerBlock(const AcquisitionInfo &info) {
    const double scans = info.scanRate() * kBlockSeconds;
    const uint32_t most = std::max<uint32_t>(1, kMaxBlockSamples / info.channelCount());
    return static_cast<uint32_t>(std::clamp(scans, 1.0, double(most)));
}

bool wantsMore(const AcquisitionInfo &info, const AcquisitionOutcome &outcome) {
    return info.continuous || outcome.scans + outcome.scansLost < info.plannedScans;
}

// Hands the reader's blocks to the sinks, in order, with the gaps between
// them, until the reader has ended and the queue is empty.
class Writer {
public:
    Writer(const AcquisitionInfo &info, const std::vector<SampleSink *> &sinks, ProgressBar &progress,
           const Streaming &streaming, AcquisitionOutcome &outcome)
        : info_(info), sinks_(sinks), progress_(progress), streaming_(streaming), outcome_(outcome) {}

    void run(BlockQueue &queue, const BlockReader &reader) {
        for (;;) {
            const BlockQueue::Popped popped = queue.pop(kWriterWakeUp);
            if (popped.block != nullptr) {
                write(*popped.block);
                queue.release(popped.block);
            }
            warnOfBacklog(reader.largestBacklog());
            progress_.update(outcome_.scans + outcome_.scansLost, double(reader.backlog()) / info_.scanRate());
            if (popped.ended)
                return;
        }
    }

    void gap(uint64_t firstScan, uint64_t scans) {
        if (scans == 0)
            return;
        for (SampleSink *sink : sinks_)
            sink->gap(firstScan, scans);
        outcome_.scansLost += scans;
        if (outcome_.firstGaps.size() < AcquisitionOutcome::kListedGaps)
            outcome_.firstGaps.push_back({firstScan, scans});
        ++outcome_.gapCount;
    }

private:
    void write(const Block &block) {
        gap(block.firstScan - block.lostBefore, block.lostBefore);
        for (SampleSink *sink : sinks_)
            sink->write(block.samples, block.firstScan, block.scans);
        outcome_.scans += block.scans;
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

bool stopAsked(const AcquisitionStop &stop) { return stop.requested() || stopSignal() != 0; }

// A card pulled out fails every request, even those its driver answers
// without the card, such as the count of cards.
bool unplugged(KVD4093_HANDLE card) { return KVD4093_GetDeviceCount(card) == 0; }

} // namespace

QueueShape queueShape(const AcquisitionInfo &info, double bufferSeconds) {
    QueueShape shape;
    shape.blockScans = scansPerBlock(info);
    const double blocks = std::ceil(bufferSeconds * info.scanRate() / shape.blockScans - 1e-9);
    const size_t blockBytes = size_t(shape.blockScans) * info.channelCount() * sizeof(uint16_t);
    // The pool holds two blocks more than the queue (block_queue.h).
    const size_t most = std::max<size_t>(1, kMostQueueBytes / blockBytes - 2);
    shape.depth = static_cast<size_t>(std::clamp(blocks, 1.0, double(most)));
    shape.cut = blocks > double(most);
    return shape;
}

AcquisitionOutcome acquire(KVD4093_HANDLE card, const AcquisitionInfo &info, const std::vector<SampleSink *> &sinks,
                           ProgressBar &progress, const Streaming &streaming) {
    for (SampleSink *sink : sinks)
        sink->begin(info);
    AcquisitionOutcome outcome;
    const auto finishAll = [&] {
        progress.finish();
        for (SampleSink *sink : sinks)
            sink->finish(outcome);
    };

    // The start as the caller read it just before this call, else now.
    const Clock::time_point start = info.startMonotonicNanoseconds != 0
                                        ? Clock::time_point(std::chrono::duration_cast<Clock::duration>(
                                              std::chrono::nanoseconds(info.startMonotonicNanoseconds)))
                                        : Clock::now();
    const QueueShape shape = queueShape(info, streaming.bufferSeconds);
    AcquisitionStop stop(card);
    Writer writer(info, sinks, progress, streaming, outcome);
    ReadResult read;
    try {
        BlockQueue queue(shape.depth, shape.blockScans, info.channelCount());
        // Watching from before the set-up: its first read waits for 512
        // samples, minutes at the lowest rates.
        const StopOnSignal watcher(stop);
        if (!stop.start(info.para) && !stopAsked(stop)) {
            const std::string failure = libraryMessage("KVD4093_InitDeviceAD");
            stop.stop();
            finishAll();
            throw CallFailed("KVD4093_InitDeviceAD failed: " + failure);
        }
        const ReadPlan plan{info.channelCount(), info.sampleRate, info.continuous ? 0 : info.plannedScans,
                            streaming.onOverrun, start};
        BlockReader reader(card, stop, queue, plan);
        writer.run(queue, reader);
        reader.join();
        read = reader.result();
        outcome.largestBacklog = reader.largestBacklog();
        writer.gap(outcome.scans + outcome.scansLost, read.lostAtEnd);
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
    outcome.overrun = read.overrun;
    if (!read.failure && !read.overrun && wantsMore(info, outcome))
        outcome.stopSignal = stopSignal();
    // The stop's failures are logged under the set-up's name.
    const bool stopped = stop.stop();
    outcome.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    finishAll();
    if (read.failure && unplugged(card))
        throw ToolError("card unplugged after " + std::to_string(outcome.scans) + " scans");
    if (read.failure)
        throw CallFailed("KVD4093_ReadDeviceAD failed: " + *read.failure);
    if (!stopped)
        failCall("KVD4093_ReleaseDeviceAD", "KVD4093_InitDeviceAD");
    return outcome;
}

} // namespace kvd::tool
