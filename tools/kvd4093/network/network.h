// The tool's MQTT side (docs/mqtt.md): acquire's publisher and the collect
// command. A build without libmosquitto has these too, and they throw
// ToolError saying what it lacks (without_mqtt.cpp).
#pragma once

#include <cstdio>
#include <memory>

#include "network/publish_request.h"
#include "output/formats.h"
#include "output/sample_sink.h"

namespace kvd::tool {

// A sink that publishes the acquisition `planned` describes; connected, or
// refused with a ToolError, before it returns, so before the card starts.
// While the broker is away at most bufferSeconds of blocks wait; its
// summary goes to `report` at the end.
std::unique_ptr<SampleSink> openPublisher(const PublishRequest &request, const AcquisitionInfo &planned,
                                          double bufferSeconds, std::FILE *report);

struct CollectRequest {
    BrokerAddress address; // its topic is PREFIX or PREFIX/#
    std::string caFile;
    std::string folder;
    const OutputFormat *format = nullptr;
};

// Collects until a stop signal; the exit status.
int collect(const CollectRequest &request);

} // namespace kvd::tool
