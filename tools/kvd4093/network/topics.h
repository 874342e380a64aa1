// The topics of a stream, PREFIX/HOST/ID/KIND (docs/mqtt.md): HOST the
// publishing machine, ID the card's physical ID or a group's IDs joined by
// "_" ("7_9": "+" is MQTT's wildcard), KIND one of meta, state and ai.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "output/sample_sink.h"

namespace kvd::tool {

constexpr std::string_view kMetaTopic = "meta";
constexpr std::string_view kStateTopic = "state";
constexpr std::string_view kBlockTopic = "ai";

// "7", or of a group "7_9": the cards' physical IDs, the clock's driver first.
std::string sourceId(const AcquisitionInfo &info);

// A name that can stand as a topic level and in a file name: letters,
// digits, '.', '-' and '_'. Throws UsageError naming `what` otherwise.
void checkTopicLevel(std::string_view name, std::string_view what);

// A prefix to publish under: no wildcard, no empty level. Throws UsageError.
void checkPrefix(std::string_view prefix, std::string_view what);

// "PREFIX/HOST/ID": the stream's source; topics are SOURCE/KIND.
std::string sourceTopic(const std::string &prefix, const std::string &host, const std::string &id);

struct StreamTopic {
    std::string source; // "HOST/ID"
    std::string host;
    std::string id;
    std::string kind; // meta, state, ai
};

// Splits a topic under prefix into its levels; nullopt for any other topic.
std::optional<StreamTopic> splitTopic(std::string_view topic, std::string_view prefix);

} // namespace kvd::tool
