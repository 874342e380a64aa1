// The sink that publishes an acquisition to a broker (docs/mqtt.md): the
// run's description, retained, on PREFIX/HOST/ID/meta; online, offline or
// (the will) lost, retained, on .../state; a message a block on .../ai.
// libmosquitto keeps every message until the broker acknowledges it, and
// would keep any number while the broker is away: the bytes not yet
// acknowledged are bounded here, and a block that would pass the bound is
// dropped whole, counted in the next block's header and in the summary.
#pragma once

#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

#include "network/mqtt_connection.h"
#include "network/publish_request.h"
#include "output/sample_sink.h"

namespace kvd::tool {

class Publisher final : public SampleSink {
public:
    // Connects; throws ToolError when the broker cannot be reached or refuses.
    Publisher(const PublishRequest &request, const AcquisitionInfo &planned, double bufferSeconds,
              std::FILE *report);

    void begin(const AcquisitionInfo &info) override;
    void write(const uint16_t *samples, uint64_t firstScan, size_t scans) override;
    void gap(uint64_t firstScan, uint64_t scansLost) override;
    void finish(const AcquisitionOutcome &outcome) override;

private:
    struct Pending {
        size_t bytes = 0;
        uint64_t scans = 0;
    };

    void send(const std::string &topic, const void *payload, size_t size, bool retain, uint64_t scans);
    void acknowledged(int messageId);
    bool waitForAcknowledgements();
    void drop(uint64_t firstScan, uint64_t scans);
    void printSummary();

    std::string hostName_;
    std::string source_; // PREFIX/HOST/ID
    std::string shownAddress_;
    size_t mostUnacknowledged_ = 0; // bytes
    std::FILE *report_;
    uint64_t runId_ = 0;
    AcquisitionInfo info_;

    std::mutex mutex_; // guards what the network thread's acknowledgements change
    std::map<int, Pending> pending_;
    std::set<int> acknowledgedEarly_; // acknowledged before publish() returned
    size_t unacknowledged_ = 0;

    uint64_t lostBefore_ = 0; // for the next block's header
    uint64_t blocks_ = 0;
    uint64_t scans_ = 0;
    uint64_t droppedBlocks_ = 0;
    std::vector<ScanGap> dropped_;
    std::vector<uint8_t> message_;
    // The network thread's reconnections say online between the start and offline.
    std::mutex stateMutex_;
    bool begun_ = false;
    std::unique_ptr<MqttConnection> connection_; // last: gone first, with its thread
};

} // namespace kvd::tool
