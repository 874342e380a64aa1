#include "network/collector.h"

#include <algorithm>

#include "network/block_message.h"

namespace kvd::tool {

void Collector::receive(const std::string &name, const uint8_t *payload, size_t size) {
    const std::optional<StreamTopic> topic = splitTopic(name, request_.address.topic);
    if (!topic)
        return; // not a stream's: other publishers may share the prefix
    const std::lock_guard lock(mutex_);
    Stream &stream = streams_[topic->source];
    topics_[topic->source] = *topic;
    try {
        if (topic->kind == kMetaTopic)
            takeMeta(*topic, stream, std::string(reinterpret_cast<const char *>(payload), size));
        else if (topic->kind == kBlockTopic)
            takeBlock(*topic, stream, payload, size);
        else if (topic->kind == kStateTopic && stream.file)
            takeState(*topic, stream, std::string(reinterpret_cast<const char *>(payload), size));
    } catch (const std::exception &error) {
        std::fprintf(stderr, "kvd4093: %s: %s\n", topic->source.c_str(), error.what());
        stream.file.reset(); // what it could not write is not kept
    }
}

void Collector::takeMeta(const StreamTopic &topic, Stream &stream, const std::string &text) {
    RunMeta meta = readRunMeta((topic.source + "/" + topic.kind), text);
    if (stream.meta && stream.meta->runId == meta.runId)
        return;
    if (stream.file)
        end(topic, stream, "a new run");
    stream = Stream{};
    stream.meta = std::move(meta);
}

// Lost is the broker's will for a publisher it lost: the publisher may be
// back (its network, the broker restarted), so the file stays open until
// offline, a new run or the collector's end.
void Collector::takeState(const StreamTopic &topic, Stream &stream, const std::string &state) {
    if (state == "offline")
        return end(topic, stream, state);
    std::fprintf(report_, "%s: %s after %llu scans\n", topic.source.c_str(), state.c_str(),
                 static_cast<unsigned long long>(stream.nextScan));
    std::fflush(report_);
}

void Collector::takeBlock(const StreamTopic &topic, Stream &stream, const uint8_t *payload, size_t size) {
    const std::optional<BlockView> block = decodeBlock(payload, size);
    if (!block)
        return warnOnce(topic, stream, "a message of another format on " + (topic.source + "/" + topic.kind) + ": ignored");
    const BlockHeader &header = block->header;
    if (!stream.meta || stream.meta->runId != header.runId)
        return warnOnce(topic, stream, "blocks of run " + runIdText(header.runId) + " came without its meta message: ignored");
    if (header.channels != stream.meta->info.channelCount())
        return warnOnce(topic, stream, "blocks of another number of channels than the meta message says: ignored");
    if (stream.ended)
        return; // sent again after its end
    if (!stream.file)
        start(topic, stream);
    stream.toldLost += header.scansLostBefore;
    // A block that belongs in a gap already written came after later ones:
    // it stays a gap, told (a broker sending one message at a time keeps the order).
    const ScanGap &last = stream.lastGap;
    if (header.scans > 0 && header.firstScan < last.firstScan + last.scansLost &&
        header.firstScan + header.scans > last.firstScan)
        std::fprintf(stderr, "kvd4093: warning: %s: scans %llu to %llu came after later ones: they stay in the gap\n",
                     topic.source.c_str(), static_cast<unsigned long long>(header.firstScan),
                     static_cast<unsigned long long>(header.firstScan + header.scans - 1));
    // Sent again after a reconnection: only what is new is written.
    const uint64_t seen = std::min<uint64_t>(header.scans, stream.nextScan > header.firstScan
                                                               ? stream.nextScan - header.firstScan
                                                               : 0);
    const uint64_t firstScan = header.firstScan + seen;
    gap(stream, stream.nextScan, firstScan > stream.nextScan ? firstScan - stream.nextScan : 0);
    const uint64_t scans = header.scans - seen;
    if (scans == 0)
        return;
    const auto *samples = reinterpret_cast<const uint16_t *>(block->samples) + seen * header.channels;
    stream.file->write(samples, firstScan, scans);
    stream.outcome.scans += scans;
    stream.nextScan = firstScan + scans;
}

void Collector::start(const StreamTopic &topic, Stream &stream) {
    const AcquisitionInfo &info = stream.meta->info;
    stream.path = request_.folder + "/" + topic.host + "-" + topic.id + "-" + runIdText(stream.meta->runId) +
                  std::string(request_.format->extension);
    stream.file = openFormat(*request_.format, stream.path);
    stream.file->begin(info);
    std::fprintf(report_, "%s: run %s started %s, channels %d-%d at %g scans/s: %s\n", topic.source.c_str(),
                 runIdText(stream.meta->runId).c_str(), info.startTime.c_str(), int(info.firstChannel()),
                 int(info.lastChannel()), info.scanRate(), stream.path.c_str());
    std::fflush(report_);
}

void Collector::gap(Stream &stream, uint64_t firstScan, uint64_t scans) {
    if (scans == 0)
        return;
    stream.file->gap(firstScan, scans);
    AcquisitionOutcome &outcome = stream.outcome;
    outcome.scansLost += scans;
    if (outcome.firstGaps.size() < AcquisitionOutcome::kListedGaps)
        outcome.firstGaps.push_back({firstScan, scans});
    ++outcome.gapCount;
    stream.lastGap = {firstScan, scans};
    stream.nextScan = firstScan + scans;
}

void Collector::end(const StreamTopic &topic, Stream &stream, const std::string &why) {
    const AcquisitionOutcome &outcome = stream.outcome;
    std::fprintf(report_, "%s: run %s ended (%s): %llu scans, %llu lost in %llu gap%s (%llu told by the publisher): %s\n",
                 topic.source.c_str(), runIdText(stream.meta->runId).c_str(), why.c_str(),
                 static_cast<unsigned long long>(outcome.scans), static_cast<unsigned long long>(outcome.scansLost),
                 static_cast<unsigned long long>(outcome.gapCount), outcome.gapCount == 1 ? "" : "s",
                 static_cast<unsigned long long>(stream.toldLost), stream.path.c_str());
    std::fflush(report_);
    stream.ended = true;
    const std::unique_ptr<SampleSink> file = std::move(stream.file);
    file->finish(outcome);
}

void Collector::finishAll(int stopSignal) {
    const std::lock_guard lock(mutex_);
    for (auto &[source, stream] : streams_) {
        if (!stream.file)
            continue;
        stream.outcome.stopSignal = stopSignal;
        try {
            end(topics_[source], stream, "collect stopped");
        } catch (const std::exception &error) {
            std::fprintf(stderr, "kvd4093: %s: %s\n", source.c_str(), error.what());
        }
    }
}

void Collector::warnOnce(const StreamTopic &topic, Stream &stream, const std::string &what) {
    if (!stream.warned)
        std::fprintf(stderr, "kvd4093: warning: %s: %s\n", topic.source.c_str(), what.c_str());
    stream.warned = true;
}

} // namespace kvd::tool
