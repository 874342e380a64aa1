#include "network/publish_request.h"

#include "common/errors.h"
#include "common/system.h"
#include "network/topics.h"

namespace kvd::tool {

OptionGroup publishOptions() {
    return {"Publishing to an MQTT broker (docs/mqtt.md):",
            {{.name = "publish",
              .value = "URL",
              .help = "mqtt://[USER@]HOST[:PORT]/PREFIX or mqtts://...: every\n"
                      "block to PREFIX/HOSTNAME/ID/ai, the run's description to\n"
                      ".../meta, online or offline to .../state (ID: the card's\n"
                      "physical ID, a group's joined by _, e.g. 7_9); the\n"
                      "password from KVD4093_MQTT_PASSWORD; with the broker\n"
                      "away at most --buffer of blocks wait, then whole blocks\n"
                      "are dropped and each gap is told"},
             {.name = "ca", .value = "FILE", .help = "mqtts: the certificate authority of the broker (PEM)"},
             {.name = "host-name",
              .value = "NAME",
              .help = "the HOSTNAME level of the topics (default: this machine's name)"}}};
}

std::optional<PublishRequest> takePublishRequest(Arguments &arguments) {
    const std::optional<std::string> url = arguments.value("publish");
    const std::optional<std::string> ca = arguments.value("ca");
    const std::optional<std::string> name = arguments.value("host-name");
    if (!url) {
        if (ca || name)
            throw UsageError("--ca and --host-name need --publish");
        return std::nullopt;
    }
    PublishRequest request;
    request.address = parseBrokerAddress(*url, "--publish");
    checkPrefix(request.address.topic, "--publish");
    if (ca && !request.address.tls)
        throw UsageError("--ca needs an mqtts:// address");
    request.caFile = ca.value_or("");
    request.hostName = name ? *name : hostName();
    checkTopicLevel(request.hostName, name ? "--host-name" : "this machine's name (give --host-name)");
    return request;
}

} // namespace kvd::tool
