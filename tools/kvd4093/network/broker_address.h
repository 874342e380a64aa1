// A broker's address as --publish and collect take it:
//   mqtt://[USER@]HOST[:PORT]/TOPIC    plain TCP, port 1883 by default
//   mqtts://[USER@]HOST[:PORT]/TOPIC   TLS, port 8883 by default
// The password never appears in it (ps shows a command line to every
// user): it comes from KVD4093_MQTT_PASSWORD.
#pragma once

#include <string>
#include <string_view>

namespace kvd::tool {

struct BrokerAddress {
    bool tls = false;
    std::string user; // empty: no login
    std::string host;
    int port = 0;
    std::string topic; // what follows the host's "/": "lab" or "lab/#"

    // "mqtt://USER@HOST:PORT", for messages.
    std::string shown() const;
};

// The environment variable the broker's password is read from.
constexpr const char *kPasswordVariable = "KVD4093_MQTT_PASSWORD";

// Throws UsageError naming `what` (--publish, collect's address) for anything
// else: another scheme, a password in the address, no topic, a bad port.
BrokerAddress parseBrokerAddress(std::string_view text, std::string_view what);

} // namespace kvd::tool
