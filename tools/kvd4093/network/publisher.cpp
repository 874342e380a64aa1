#include "network/publisher.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "KVD4093_stream.h"
#include "network/block_message.h"
#include "network/network.h"
#include "network/run_meta.h"
#include "network/topics.h"

namespace kvd::tool {
namespace {

constexpr std::string_view kOnline = "online";
constexpr std::string_view kOffline = "offline";
constexpr std::string_view kLost = "lost";
// At the end the broker has this long to acknowledge what is still on its way.
constexpr auto kLastAcknowledgements = std::chrono::seconds(10);

std::string topic(const std::string &source, std::string_view kind) { return source + "/" + std::string(kind); }

// --buffer's duration of samples in bytes, within the stream's own bound.
size_t bufferBytes(const AcquisitionInfo &info, double seconds) {
    const double bytes = seconds * info.sampleRate * info.cardCount() * sizeof(uint16_t);
    return size_t(std::clamp(bytes, 0.0, double(KVD4093_STREAM_MOST_BUFFER_BYTES)));
}

MqttSettings settingsFor(const PublishRequest &request, const std::string &source) {
    MqttSettings settings;
    settings.address = request.address;
    settings.caFile = request.caFile;
    settings.willTopic = topic(source, kStateTopic);
    settings.willPayload = std::string(kLost);
    return settings;
}

} // namespace

Publisher::Publisher(const PublishRequest &request, const AcquisitionInfo &planned, double bufferSeconds,
                     std::FILE *report)
    : hostName_(request.hostName), source_(sourceTopic(request.address.topic, request.hostName, sourceId(planned))),
      shownAddress_(request.address.shown()), mostUnacknowledged_(bufferBytes(planned, bufferSeconds)),
      report_(report), runId_(newRunId()) {
    MqttEvents events;
    events.acknowledged = [this](int messageId) { acknowledged(messageId); };
    // The broker published the will when it lost the connection: the state is online again.
    events.reconnected = [this] {
        const std::lock_guard lock(stateMutex_);
        if (begun_)
            send(topic(source_, kStateTopic), kOnline.data(), kOnline.size(), true, 0);
    };
    connection_ = std::make_unique<MqttConnection>(settingsFor(request, source_), std::move(events));
}

void Publisher::begin(const AcquisitionInfo &info) {
    info_ = info;
    const std::string meta = runMetaText({info, runId_, hostName_});
    send(topic(source_, kMetaTopic), meta.data(), meta.size(), true, 0);
    const std::lock_guard lock(stateMutex_);
    send(topic(source_, kStateTopic), kOnline.data(), kOnline.size(), true, 0);
    begun_ = true;
}

void Publisher::write(const uint16_t *samples, uint64_t firstScan, size_t scans) {
    const size_t bytes = kBlockHeaderBytes + scans * info_.channelCount() * sizeof(uint16_t);
    {
        // One block always goes, whatever the bound: the bound is on the waiting ones.
        const std::lock_guard lock(mutex_);
        if (unacknowledged_ > 0 && unacknowledged_ + bytes > mostUnacknowledged_) {
            drop(firstScan, scans);
            return;
        }
    }
    encodeBlock({runId_, firstScan, lostBefore_, uint32_t(scans), uint16_t(info_.channelCount())}, samples,
                message_);
    send(topic(source_, kBlockTopic), message_.data(), message_.size(), false, scans);
    lostBefore_ = 0;
    ++blocks_;
    scans_ += scans;
}

// Scans the acquisition lost before they reached the sinks: told as the publisher's own.
void Publisher::gap(uint64_t, uint64_t scansLost) { lostBefore_ += scansLost; }

void Publisher::finish(const AcquisitionOutcome &outcome) {
    // Drops after the last block go in a block of no scans.
    if (lostBefore_ > 0) {
        encodeBlock({runId_, outcome.scans + outcome.scansLost, lostBefore_, 0, uint16_t(info_.channelCount())},
                    nullptr, message_);
        send(topic(source_, kBlockTopic), message_.data(), message_.size(), false, 0);
    }
    {
        const std::lock_guard lock(stateMutex_);
        begun_ = false; // offline is the last state
        send(topic(source_, kStateTopic), kOffline.data(), kOffline.size(), true, 0);
    }
    const bool delivered = waitForAcknowledgements();
    if (delivered)
        connection_->disconnect();
    printSummary();
}

void Publisher::send(const std::string &name, const void *payload, size_t size, bool retain, uint64_t scans) {
    const int messageId = connection_->publish(name, payload, size, retain);
    const std::lock_guard lock(mutex_);
    if (acknowledgedEarly_.erase(messageId) > 0)
        return;
    pending_[messageId] = {size, scans};
    unacknowledged_ += size;
}

void Publisher::acknowledged(int messageId) {
    const std::lock_guard lock(mutex_);
    const auto found = pending_.find(messageId);
    if (found == pending_.end()) {
        acknowledgedEarly_.insert(messageId);
        return;
    }
    unacknowledged_ -= found->second.bytes;
    pending_.erase(found);
}

bool Publisher::waitForAcknowledgements() {
    const auto deadline = std::chrono::steady_clock::now() + kLastAcknowledgements;
    for (;;) {
        {
            const std::lock_guard lock(mutex_);
            if (pending_.empty())
                return true;
        }
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

// Called with the mutex held.
void Publisher::drop(uint64_t firstScan, uint64_t scans) {
    lostBefore_ += scans;
    ++droppedBlocks_;
    if (!dropped_.empty() && dropped_.back().firstScan + dropped_.back().scansLost == firstScan)
        dropped_.back().scansLost += scans;
    else
        dropped_.push_back({firstScan, scans});
}

void Publisher::printSummary() {
    std::fprintf(report_, "published %llu blocks (%llu scans) to %s as %s\n",
                 static_cast<unsigned long long>(blocks_), static_cast<unsigned long long>(scans_),
                 shownAddress_.c_str(), source_.c_str());
    if (!dropped_.empty()) {
        uint64_t lost = 0;
        for (const ScanGap &gap : dropped_)
            lost += gap.scansLost;
        std::fprintf(report_, "dropped %llu blocks (%llu scans) in %zu gap%s, more than --buffer waiting for the "
                              "broker:\n",
                     static_cast<unsigned long long>(droppedBlocks_), static_cast<unsigned long long>(lost),
                     dropped_.size(), dropped_.size() == 1 ? "" : "s");
        for (size_t i = 0; i < dropped_.size() && i < AcquisitionOutcome::kListedGaps; ++i)
            std::fprintf(report_, "  scans %llu to %llu (%llu)\n",
                         static_cast<unsigned long long>(dropped_[i].firstScan),
                         static_cast<unsigned long long>(dropped_[i].firstScan + dropped_[i].scansLost - 1),
                         static_cast<unsigned long long>(dropped_[i].scansLost));
        if (dropped_.size() > AcquisitionOutcome::kListedGaps)
            std::fprintf(report_, "  and %zu more gaps\n", dropped_.size() - AcquisitionOutcome::kListedGaps);
    }
    const std::lock_guard lock(mutex_);
    if (!pending_.empty()) {
        uint64_t scans = 0;
        for (const auto &[id, message] : pending_)
            scans += message.scans;
        std::fprintf(report_, "kvd4093: warning: the broker did not acknowledge %zu messages (%llu scans) in %lld s: "
                              "they may be lost\n",
                     pending_.size(), static_cast<unsigned long long>(scans),
                     static_cast<long long>(kLastAcknowledgements.count()));
    }
}

std::unique_ptr<SampleSink> openPublisher(const PublishRequest &request, const AcquisitionInfo &planned,
                                          double bufferSeconds, std::FILE *report) {
    return std::make_unique<Publisher>(request, planned, bufferSeconds, report);
}

} // namespace kvd::tool
