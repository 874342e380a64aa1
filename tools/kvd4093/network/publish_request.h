// What acquire's --publish, --ca and --host-name ask for, and their rows of
// acquire's option table. Parsed in every build: a build without the MQTT
// client refuses the request when it opens the publisher (network.h).
#pragma once

#include <optional>
#include <string>

#include "common/options.h"
#include "network/broker_address.h"

namespace kvd::tool {

struct PublishRequest {
    BrokerAddress address; // its topic is the prefix
    std::string caFile;
    std::string hostName; // the HOST level of the topics
};

OptionGroup publishOptions();

// nullopt without --publish; UsageError for --ca or --host-name without it,
// and for a prefix or host name that cannot be a topic level.
std::optional<PublishRequest> takePublishRequest(Arguments &arguments);

} // namespace kvd::tool
