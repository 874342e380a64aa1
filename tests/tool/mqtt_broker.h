// A mosquitto broker of the test's own on 127.0.0.1, on a free port, with a
// login (user "daq", password kBrokerPassword) and its configuration,
// password file and persistence in the test's folder; stopped, and
// restarted on the same port, when the test says, and stopped at the end.
#pragma once

#include <memory>
#include <string>

#include "support/child_process.h"

namespace kvd::testing {

constexpr const char *kBrokerPassword = "s3cret";

class MqttBroker {
public:
    explicit MqttBroker(const std::string &folder);
    ~MqttBroker();

    // Why the broker or the tool's MQTT side cannot run here (for
    // GTEST_SKIP), or empty.
    static std::string missing(const std::string &folder);

    // "mqtt://daq@127.0.0.1:PORT/PREFIX"
    std::string address(const std::string &prefix) const;
    // Waits, at most 20 s, until a client has subscribed to the topic.
    void waitForSubscription(const std::string &topic) const;
    // SIGTERM, as a service manager stops it: it saves its sessions first.
    void stop();
    void start();

private:
    std::string folder_;
    int port_ = 0;
    std::unique_ptr<ChildProcess> process_;
};

} // namespace kvd::testing
