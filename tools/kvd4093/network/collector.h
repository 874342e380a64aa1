// What collect does with the messages of PREFIX/#: each source's meta
// message describes its run, and the run's ai blocks go to a file of its
// own, HOST-ID-RUN.EXT in the folder, through the writers of acquire. Where
// the blocks' scan indexes jump (the publisher dropped blocks and says so in
// the next header, or a message never came) the file records a gap; a block
// sent again after a reconnection is written once. A run ends with its
// state offline, with a new run of the same source, or with the collector,
// and its file is completed then; lost (the publisher's will) is told.
#pragma once

#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "network/network.h"
#include "network/run_meta.h"
#include "network/topics.h"

namespace kvd::tool {

class Collector {
public:
    // request.address.topic is the prefix.
    Collector(const CollectRequest &request, std::FILE *report) : request_(request), report_(report) {}

    // A message of the subscription, on the network thread. Never throws:
    // what cannot be written is told on standard error.
    void receive(const std::string &topic, const uint8_t *payload, size_t size);
    // Completes every file still open: the collector stops.
    void finishAll(int stopSignal);

private:
    struct Stream {
        std::optional<RunMeta> meta;
        std::unique_ptr<SampleSink> file;
        std::string path;
        uint64_t nextScan = 0;
        uint64_t toldLost = 0; // what the headers said was dropped
        ScanGap lastGap;
        AcquisitionOutcome outcome;
        bool warned = false;
        bool ended = false;
    };

    void takeMeta(const StreamTopic &topic, Stream &stream, const std::string &text);
    void takeState(const StreamTopic &topic, Stream &stream, const std::string &state);
    void takeBlock(const StreamTopic &topic, Stream &stream, const uint8_t *payload, size_t size);
    void start(const StreamTopic &topic, Stream &stream);
    void gap(Stream &stream, uint64_t firstScan, uint64_t scans);
    void end(const StreamTopic &topic, Stream &stream, const std::string &why);
    void warnOnce(const StreamTopic &topic, Stream &stream, const std::string &what);

    const CollectRequest &request_;
    std::FILE *report_;
    std::mutex mutex_;
    std::map<std::string, Stream> streams_; // by HOST/ID
    std::map<std::string, StreamTopic> topics_;
};

} // namespace kvd::tool
