// One stream: its card or group of cards, the configuration it checked at
// the open, the queue of blocks and the reading that fills it (a reader
// thread, or a group's readers and their merger),
// the program's side that takes scans from the head block, and the callback
// fed on the reader thread through a staging buffer made at the start.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "KVD4093_stream.h"
#include "block_queue.h"
#include "block_reader.h"
#include "card_list.h"
#include "card_outputs.h"
#include "card_set.h"
#include "queue_shape.h"
#include "reading.h"
#include "reconnection.h"
#include "segments.h"

namespace kvd::stream {

// What the open found in a configuration, checked.
struct CheckedConfig {
    std::vector<CardName> cards; // as `cards` names them (when read)
    size_t cardCount = 1;
    ClockMode clockMode = ClockMode::Shared;
    int32_t clockOutputCode = 1;
    int32_t clockInputCode = 1;
    uint32_t channels = 1;  // of each card
    uint32_t scanChannels = 1; // of a scan of the stream: every card's channels
    int32_t frequency = 0;  // the record's Frequency: scanRate x channels
    double scanRate = 0;    // as the card runs (its divider)
    QueueShape shape;       // the stream's queue
    QueueShape cardShape;   // each card's queue in a group
    ReadPlan plan;          // each card's, without its start
    uint32_t callbackScans = 0;
    double reconnectSeconds = 0; // 0: none; below 0: no limit
};

// The configuration checked, or the reason it is refused. `cards` is not
// read when `readCards` is false (a stream on cards the program opened,
// `cardCount` of them).
std::optional<CheckedConfig> checkConfig(const KVD4093_STREAM_CONFIG &config, bool readCards, size_t cardCount,
                                         std::string *reason);

// The record of each card of a group: the shared record with the clock
// fields of its place (the first drives the clock); one card's is untouched.
ADPara cardRecord(const ADPara &shared, const CheckedConfig &checked, size_t place);

class Stream final : private ReadObserver {
public:
    // A stream on open cards, their records complete.
    Stream(KVD4093_STREAM *token, const KVD4093_STREAM_CONFIG &config, const CheckedConfig &checked,
           std::unique_ptr<CardSet> cards);
    ~Stream();
    Stream(const Stream &) = delete;
    Stream &operator=(const Stream &) = delete;

    bool start();
    int64_t read(uint16_t *samples, uint32_t maxScans, int32_t timeoutMs, KVD4093_STREAM_BLOCK *block);
    void status(KVD4093_STREAM_STATUS *status) const;
    bool stop();
    // Stops, wakes every waiting read (they return -1), waits for the reader
    // and releases the card the stream opened. Once; never on the reader thread.
    void close();

    // True on the stream's reader thread, where a callback runs.
    bool onReaderThread() const;
    const char *error();
    uint32_t channels() const { return checked_.scanChannels; }
    KVD4093_HANDLE card() const { return cards_->handle(0); }
    ADPara record() const { return cards_->member(0).record; }
    const Segments &segments() const { return segments_; }
    CardOutputs &outputs() { return outputs_; }
    const CardSet &cards() const { return *cards_; }
    bool startTime(int64_t *utcNs, int64_t *monotonicNs) const;
    void buffer(KVD4093_STREAM_BUFFER *buffer) const;
    // A failure of a call, kept for error().
    void fail(std::string why);

private:
    void queued(const Block &block) override;
    void ended(const ReadResult &result) override;
    void flushStaged();
    // The queue once the stream has started; nullptr when the stream ended
    // without one or closed, or when `until` passed first.
    BlockQueue *queueUntil(BlockQueue::Clock::time_point until, bool *ended);
    void startFailed(std::string why);
    std::unique_ptr<Reading> startReading(BlockQueue &queue, const ReadPlan &plan);
    std::chrono::milliseconds noClockWait() const;
    // The program's turn to take scans, waiting at most until `until`.
    bool takeTurn(BlockQueue::Clock::time_point until);
    void endTurn();

    KVD4093_STREAM *const token_;
    const CheckedConfig checked_;
    const KVD4093_STREAM_CALLBACK callback_;
    void *const callbackContext_;
    const std::unique_ptr<CardSet> cards_;
    CardOutputs outputs_;
    Segments segments_;
    std::optional<Reconnection> reconnection_; // made at the start when asked for

    mutable std::mutex stateMutex_;
    std::condition_variable stateChanged_;
    bool started_ = false;   // StartStream was called
    bool starting_ = false;  // StartStream is setting up
    bool noQueue_ = false;   // ended without a queue: stopped or failed before the reader ran
    bool closed_ = false;
    std::atomic<bool> closing_{false}; // closed_, for the reads that take without the lock
    std::unique_ptr<BlockQueue> queue_;
    std::unique_ptr<Reading> reader_;
    std::atomic<BlockQueue *> liveQueue_{nullptr};
    std::atomic<Reading *> liveReader_{nullptr};
    std::atomic<bool> overrun_{false};
    std::atomic<bool> failed_{false};
    std::atomic<bool> startKnown_{false};
    int64_t startUtcNs_ = 0;
    int64_t startMonotonicNs_ = 0;

    // The program's side: the head block taken from the queue and how many
    // of its scans were copied.
    // One thread takes at a time (`taking_`); the others wait their turn.
    // Not a timed mutex: the race detector cannot see its timed lock.
    std::mutex takeMutex_;
    std::condition_variable takeFree_;
    bool taking_ = false;
    Block *head_ = nullptr;
    uint32_t headTaken_ = 0;
    std::atomic<uint64_t> scansTaken_{0};

    // The callback's staging buffer (reader thread only).
    std::vector<uint16_t> staging_;
    uint32_t staged_ = 0;
    std::atomic<std::thread::id> callbackThread_{}; // the reader's, once it calls the callback
    KVD4093_STREAM_BLOCK stagedBlock_{};

    std::mutex errorMutex_;
    std::string error_;
    std::string shownError_;
};

} // namespace kvd::stream
