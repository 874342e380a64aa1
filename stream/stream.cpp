#include "stream.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

#include "KVD4093_ad_fields.h"
#include "facts/card_limits.h"
#include "facts/channel_count.h"
#include "facts/scan_rate.h"
#include "card_message.h"
#include "group_reader.h"
#include "host_clocks.h"

namespace kvd::stream {
namespace {

using Clock = BlockQueue::Clock;

// A callback hands on about this long of scans unless told otherwise.
constexpr double kCallbackSeconds = 0.1;

// The highest channel number: the bits of the record's FirstChannel that
// reach the card (KVD4093_ad_fields.h, the table the tool's checks read).
constexpr int32_t highestChannel() {
    for (const fields::AdField &field : fields::kAdFields)
        if (field.member == &ADPara::FirstChannel)
            return (int32_t(1) << field.bits) - 1;
    return 0;
}

std::string number(double value) {
    char text[48];
    std::snprintf(text, sizeof text, "%.10g", value);
    return text;
}

// The clock fields of a group: its mode and the two codes, 0 their defaults.
bool checkClock(const KVD4093_STREAM_CONFIG &config, CheckedConfig *checked, std::string *reason) {
    if (config.clockMode != KVD4093_STREAM_CLOCK_SHARED && config.clockMode != KVD4093_STREAM_CLOCK_INDEPENDENT) {
        *reason = "clockMode " + std::to_string(config.clockMode) +
                  ": give KVD4093_STREAM_CLOCK_SHARED (0) or KVD4093_STREAM_CLOCK_INDEPENDENT (1)";
        return false;
    }
    if (config.clockOutputCode < 0 || config.clockInputCode < 0) {
        *reason = "clockOutputCode " + std::to_string(config.clockOutputCode) + ", clockInputCode " +
                  std::to_string(config.clockInputCode) + ": give the card's codes, or 0 for 1 (our cards' codes)";
        return false;
    }
    checked->clockMode = config.clockMode == KVD4093_STREAM_CLOCK_INDEPENDENT ? ClockMode::Independent : ClockMode::Shared;
    checked->clockOutputCode = config.clockOutputCode != 0 ? config.clockOutputCode : 1;
    checked->clockInputCode = config.clockInputCode != 0 ? config.clockInputCode : 1;
    return true;
}

int32_t gapCause(const Block &block) {
    return block.lostAway ? KVD4093_STREAM_GAP_DISCONNECTED : KVD4093_STREAM_GAP_OVERRUN;
}

} // namespace

ADPara cardRecord(const ADPara &shared, const CheckedConfig &checked, size_t place) {
    ADPara record = shared;
    if (checked.cardCount == 1)
        return record;
    const bool shares = checked.clockMode == ClockMode::Shared;
    record.bClockOutput = shares && place == 0 ? checked.clockOutputCode : 0;
    record.ClockSource = shares && place != 0 ? checked.clockInputCode : 0;
    return record;
}

std::optional<CheckedConfig> checkConfig(const KVD4093_STREAM_CONFIG &config, bool readCards, size_t cardCount,
                                         std::string *reason) {
    CheckedConfig checked;
    if (readCards && !parseCardList(config.cards, &checked.cards, reason))
        return std::nullopt;
    checked.cardCount = readCards ? checked.cards.size() : cardCount;
    if (!checkClock(config, &checked, reason))
        return std::nullopt;
    constexpr int32_t highest = highestChannel();
    const std::string channels =
        "channels " + std::to_string(config.firstChannel) + "-" + std::to_string(config.lastChannel);
    if (config.firstChannel < 0 || config.firstChannel > highest || config.lastChannel < 0 ||
        config.lastChannel > highest) {
        *reason = channels + ": the card's channels are 0 to " + std::to_string(highest);
        return std::nullopt;
    }
    if (config.lastChannel < config.firstChannel) {
        *reason = channels + ": the last before the first";
        return std::nullopt;
    }
    checked.channels = uint32_t(facts::channelCount(config.firstChannel, config.lastChannel));
    if (!std::isfinite(config.scanRate) || config.scanRate <= 0) {
        *reason = "scanRate " + number(config.scanRate) + ": give the scans a second, a number above 0";
        return std::nullopt;
    }
    const std::optional<int32_t> frequency = facts::frequencyForScans(config.scanRate, int32_t(checked.channels));
    if (!frequency) {
        const double samples = config.scanRate * checked.channels;
        const std::string why = samples > facts::kTimeBaseHz
                                    ? number(samples) + " samples a second, above the card's " +
                                          std::to_string(facts::kTimeBaseHz)
                                    : "below 1 sample a second, the card's slowest";
        *reason = "scanRate " + number(config.scanRate) + " x " + std::to_string(checked.channels) +
                  " channels is " + why;
        return std::nullopt;
    }
    checked.frequency = *frequency;
    if (!std::isfinite(config.bufferSeconds) || config.bufferSeconds < 0) {
        *reason = "bufferSeconds " + number(config.bufferSeconds) + ": give 0 (2 s) or the seconds of scans to hold";
        return std::nullopt;
    }
    if (config.onOverrun != KVD4093_STREAM_STOP && config.onOverrun != KVD4093_STREAM_CONTINUE) {
        *reason = "onOverrun " + std::to_string(config.onOverrun) +
                  ": give KVD4093_STREAM_STOP (0) or KVD4093_STREAM_CONTINUE (1)";
        return std::nullopt;
    }
    if (!std::isfinite(config.reconnectSeconds)) {
        *reason = "reconnectSeconds " + number(config.reconnectSeconds) +
                  ": give the seconds to wait for a card pulled out, 0 (none) or KVD4093_STREAM_RECONNECT_FOREVER";
        return std::nullopt;
    }
    checked.reconnectSeconds = config.reconnectSeconds < 0 ? -1.0 : double(config.reconnectSeconds);
    if (config.scans < 0) {
        *reason = "scans " + std::to_string(config.scans) + ": give the scans to acquire, or 0 for until stopped";
        return std::nullopt;
    }
    const double sampleRate = facts::cardSampleRate(checked.frequency);
    checked.scanRate = sampleRate / checked.channels;
    const double seconds = config.bufferSeconds > 0 ? config.bufferSeconds : 2.0;
    checked.scanChannels = checked.channels * uint32_t(checked.cardCount);
    checked.shape = queueShape(checked.scanRate, checked.scanChannels, seconds);
    // Each card's blocks are the group's length, so that the blocks a merge
    // reads and writes stay few and in the processor's caches.
    checked.cardShape = checked.shape;
    checked.plan.channels = checked.channels;
    checked.plan.sampleRate = sampleRate;
    checked.plan.plannedScans = uint64_t(config.scans);
    checked.plan.onOverrun = config.onOverrun == KVD4093_STREAM_CONTINUE ? OverrunChoice::Continue : OverrunChoice::Stop;
    checked.callbackScans = config.callbackScans != 0
                                ? config.callbackScans
                                : static_cast<uint32_t>(std::max(1.0, std::round(checked.scanRate * kCallbackSeconds)));
    return checked;
}

Stream::Stream(KVD4093_STREAM *token, const KVD4093_STREAM_CONFIG &config, const CheckedConfig &checked,
               std::unique_ptr<CardSet> cards)
    : token_(token), checked_(checked), callback_(config.callback), callbackContext_(config.callbackContext),
      cards_(std::move(cards)) {}

Stream::~Stream() { close(); }

void Stream::fail(std::string why) {
    const std::lock_guard lock(errorMutex_);
    error_ = std::move(why);
}

const char *Stream::error() {
    const std::lock_guard lock(errorMutex_);
    shownError_ = error_;
    return shownError_.c_str();
}

void Stream::startFailed(std::string why) {
    fail(std::move(why));
    cards_->stop();
    const std::lock_guard lock(stateMutex_);
    starting_ = false;
    noQueue_ = true;
    stateChanged_.notify_all();
}

bool Stream::start() {
    {
        const std::lock_guard lock(stateMutex_);
        if (closed_ || started_ || cards_->stopRequested()) {
            fail(closed_    ? "the stream is closed"
                 : started_ ? "the stream was started already: a stream starts once"
                            : "the stream was stopped before it started: a stream starts once");
            return false;
        }
        started_ = true;
        starting_ = true;
    }
    std::unique_ptr<BlockQueue> queue;
    try {
        queue = std::make_unique<BlockQueue>(checked_.shape.depth, checked_.shape.blockScans, checked_.scanChannels);
        if (callback_ != nullptr)
            staging_.resize(size_t(checked_.callbackScans) * checked_.scanChannels);
    } catch (const std::bad_alloc &) {
        startFailed("no memory for the buffer of " + std::to_string(checked_.shape.poolBytes(checked_.scanChannels)) +
                    " bytes (or the callback's staging buffer)");
        failed_.store(true);
        return false;
    }
    // The start, read just before the (driving) card starts converting.
    ReadPlan plan = checked_.plan;
    std::string why;
    if (!cards_->start(noClockWait(), &plan.start, &why)) {
        if (cards_->stopRequested()) {
            startFailed("the stream was stopped while its card was being set up");
        } else {
            failed_.store(true);
            startFailed(why);
        }
        return false;
    }
    const HostTimes times = hostTimesAt(plan.start);
    startUtcNs_ = times.utcNs;
    startMonotonicNs_ = times.monotonicNs;
    startKnown_.store(true);
    segments_.add(plan.start, 0);
    std::unique_ptr<Reading> reader;
    try {
        reader = startReading(*queue, plan);
    } catch (const std::exception &) {
        failed_.store(true);
        startFailed("the stream's reader thread could not be started");
        return false;
    }
    const std::lock_guard lock(stateMutex_);
    liveQueue_.store(queue.get());
    liveReader_.store(reader.get());
    queue_ = std::move(queue);
    reader_ = std::move(reader);
    starting_ = false;
    stateChanged_.notify_all();
    return true;
}

std::unique_ptr<Reading> Stream::startReading(BlockQueue &queue, const ReadPlan &plan) {
    ReadObserver &observer = *this;
    if (checked_.reconnectSeconds != 0)
        reconnection_.emplace(*cards_, outputs_, segments_, checked_.scanRate, checked_.reconnectSeconds, noClockWait());
    Reconnection *reconnection = reconnection_ ? &*reconnection_ : nullptr;
    if (!cards_->grouped())
        return std::make_unique<BlockReader>(cards_->handle(0), cards_->stopOf(0), queue, plan, observer, reconnection);
    return std::make_unique<GroupReader>(*cards_, queue, plan, checked_.cardShape.depth, checked_.cardShape.blockScans,
                                         noClockWait(), observer, reconnection);
}

// KVD4093_STREAM_NO_CLOCK_SECONDS or ten blocks, whichever is longer.
std::chrono::milliseconds Stream::noClockWait() const {
    const double blocks = 10.0 * checked_.shape.blockScans / checked_.scanRate;
    return std::chrono::milliseconds(std::llround(1000 * std::max(KVD4093_STREAM_NO_CLOCK_SECONDS, blocks)));
}

BlockQueue *Stream::queueUntil(Clock::time_point until, bool *ended) {
    *ended = false;
    if (BlockQueue *queue = liveQueue_.load())
        return queue;
    std::unique_lock lock(stateMutex_);
    const auto ready = [&] { return queue_ != nullptr || noQueue_ || closed_ || (!started_ && cards_->stopRequested()); };
    if (until == Clock::time_point::max())
        stateChanged_.wait(lock, ready);
    else
        stateChanged_.wait_until(lock, until, ready);
    if (closed_ || (queue_ == nullptr && ready()))
        *ended = true;
    return closed_ ? nullptr : queue_.get();
}

int64_t Stream::read(uint16_t *samples, uint32_t maxScans, int32_t timeoutMs, KVD4093_STREAM_BLOCK *block) {
    if (samples == nullptr) {
        fail("KVD4093_ReadStream: samples is NULL");
        return -1;
    }
    const Clock::time_point until = timeoutMs < 0 ? Clock::time_point::max() : Clock::now() + std::chrono::milliseconds(timeoutMs);
    // One program thread takes at a time; another waits its turn within its time-out.
    if (!takeTurn(until))
        return 0;
    struct Turn {
        Stream *stream;
        ~Turn() { stream->endTurn(); }
    } turn{this};
    bool ended = false;
    BlockQueue *queue = queueUntil(until, &ended);
    if (queue == nullptr || closing_.load())
        return queue == nullptr && !ended ? 0 : -1;
    if (head_ == nullptr) {
        const BlockQueue::Popped popped = queue->pop(until);
        if (popped.ended)
            return -1;
        if (popped.block == nullptr)
            return 0;
        head_ = popped.block;
        headTaken_ = 0;
    }
    const uint32_t channels = checked_.scanChannels;
    KVD4093_STREAM_BLOCK where{int64_t(head_->firstScan + headTaken_),
                               headTaken_ == 0 ? int64_t(head_->lostBefore) : 0, KVD4093_STREAM_GAP_NONE, 0};
    if (where.scansLostBefore > 0)
        where.gapCause = gapCause(*head_);
    uint32_t copied = 0;
    while (copied < maxScans) {
        const uint32_t scans = std::min(maxScans - copied, head_->scans - headTaken_);
        std::memcpy(samples + size_t(copied) * channels, head_->samples + size_t(headTaken_) * channels,
                    size_t(scans) * channels * sizeof(uint16_t));
        copied += scans;
        headTaken_ += scans;
        if (headTaken_ < head_->scans)
            break;
        // The head block is taken: the next one joins when it follows without a gap.
        queue->release(head_);
        head_ = nullptr;
        if (copied == maxScans)
            break;
        const BlockQueue::Popped next = queue->pop();
        if (next.block == nullptr)
            break;
        head_ = next.block;
        headTaken_ = 0;
        if (head_->lostBefore != 0)
            break;
    }
    scansTaken_.fetch_add(copied);
    if (block != nullptr)
        *block = where;
    return copied;
}

bool Stream::takeTurn(Clock::time_point until) {
    std::unique_lock lock(takeMutex_);
    const auto free = [&] { return !taking_; };
    if (until == Clock::time_point::max())
        takeFree_.wait(lock, free);
    else if (!free() && (until <= Clock::now() || !takeFree_.wait_until(lock, until, free)))
        return false;
    taking_ = true;
    return true;
}

void Stream::endTurn() {
    {
        const std::lock_guard lock(takeMutex_);
        taking_ = false;
    }
    takeFree_.notify_one();
}

void Stream::status(KVD4093_STREAM_STATUS *status) const {
    *status = {};
    if (const Reading *reader = liveReader_.load()) {
        status->scansRead = int64_t(reader->scansQueued());
        status->scansLost = int64_t(reader->scansLost());
        status->backlog = int64_t(reader->backlog());
        status->largestBacklog = int64_t(reader->largestBacklog());
        status->scansQueued = std::max<int64_t>(0, status->scansRead - int64_t(scansTaken_.load()));
        status->running = reader->running() ? 1 : 0;
        status->waitingForCard = reconnection_ && reconnection_->waiting() ? 1 : 0;
    }
    status->overrun = overrun_.load() ? 1 : 0;
    status->failed = failed_.load() ? 1 : 0;
}

bool Stream::stop() {
    const bool stopped = cards_->stop();
    // Wakes a read waiting for a stream that never got its queue.
    const std::lock_guard lock(stateMutex_);
    stateChanged_.notify_all();
    return stopped;
}

void Stream::close() {
    {
        std::unique_lock lock(stateMutex_);
        if (closed_)
            return;
        closed_ = true;
        closing_.store(true);
        stateChanged_.notify_all();
    }
    cards_->stop();
    std::unique_ptr<Reading> reader;
    {
        std::unique_lock lock(stateMutex_);
        // A start under way ends soon: the stop ends its set-up.
        stateChanged_.wait(lock, [&] { return !starting_; });
        if (queue_ != nullptr)
            queue_->cancel();
        reader = std::move(reader_);
    }
    if (reader != nullptr)
        reader->join();
    // The reader's object stays until the stream goes: status calls may hold it.
    {
        const std::lock_guard lock(stateMutex_);
        reader_ = std::move(reader);
    }
    // The cards the stream opened are released when the stream goes (CardSet).
}

bool Stream::onReaderThread() const { return callbackThread_.load() == std::this_thread::get_id(); }

bool Stream::startTime(int64_t *utcNs, int64_t *monotonicNs) const {
    if (!startKnown_.load())
        return false;
    if (utcNs != nullptr)
        *utcNs = startUtcNs_;
    if (monotonicNs != nullptr)
        *monotonicNs = startMonotonicNs_;
    return true;
}

void Stream::buffer(KVD4093_STREAM_BUFFER *buffer) const {
    const QueueShape &shape = checked_.shape;
    *buffer = {};
    buffer->blockScans = shape.blockScans;
    buffer->blocks = static_cast<uint32_t>(shape.depth);
    buffer->seconds = shape.seconds(checked_.scanRate);
    buffer->scanRate = checked_.scanRate;
    buffer->bytes = int64_t(shape.poolBytes(checked_.scanChannels));
    if (cards_->grouped())
        buffer->bytes += int64_t(checked_.cardShape.poolBytes(checked_.channels) * cards_->size());
    buffer->cut = shape.cut ? 1 : 0;
}

// The reader thread: every block before it is queued goes through the
// staging buffer to the callback, `callbackScans` at a time.
void Stream::queued(const Block &block) {
    if (callback_ == nullptr)
        return;
    if (block.lostBefore != 0)
        flushStaged();
    const uint32_t channels = checked_.scanChannels;
    for (uint32_t done = 0; done < block.scans;) {
        if (staged_ == 0)
            stagedBlock_ = {int64_t(block.firstScan + done), done == 0 ? int64_t(block.lostBefore) : 0,
                            done == 0 && block.lostBefore != 0 ? gapCause(block) : KVD4093_STREAM_GAP_NONE, 0};
        const uint32_t scans = std::min(block.scans - done, checked_.callbackScans - staged_);
        std::memcpy(staging_.data() + size_t(staged_) * channels, block.samples + size_t(done) * channels,
                    size_t(scans) * channels * sizeof(uint16_t));
        staged_ += scans;
        done += scans;
        if (staged_ == checked_.callbackScans)
            flushStaged();
    }
}

void Stream::flushStaged() {
    if (staged_ == 0)
        return;
    const uint32_t scans = staged_;
    staged_ = 0;
    // Known before the first call, whenever the reader's object is published.
    callbackThread_.store(std::this_thread::get_id());
    callback_(token_, staging_.data(), scans, &stagedBlock_, callbackContext_);
}

void Stream::ended(const ReadResult &result) {
    if (callback_ != nullptr)
        flushStaged();
    if (result.overrun) {
        overrun_.store(true);
        fail("the buffer of " + number(checked_.shape.seconds(checked_.scanRate)) +
             " s was full: the stream stopped (overrun); every block read stays readable");
    }
    if (result.failure && result.described) {
        failed_.store(true);
        fail(*result.failure);
    } else if (result.failure) {
        failed_.store(true);
        const bool unplugged = cards_->lost(0);
        const Reading *reader = liveReader_.load();
        const std::string scans = reader != nullptr ? std::to_string(reader->scansQueued() + reader->scansLost()) : "0";
        fail((unplugged ? "the card was unplugged after " + scans + " scans: " : std::string()) +
             "KVD4093_ReadDeviceAD failed: " + *result.failure);
    }
}

} // namespace kvd::stream
