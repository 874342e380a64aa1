// A connection to an MQTT broker through libmosquitto: its network thread
// (mosquitto_loop_start) sends, receives and reconnects by itself when the
// broker goes away, every second or two until it is back. The constructor
// connects and waits for the broker's answer, so that a refused login, a
// TLS failure or no broker at all fails at once with a clear message,
// before anything else has started.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "network/broker_address.h"

struct mosquitto;
struct mosquitto_message;

namespace kvd::tool {

struct MqttSettings {
    BrokerAddress address;
    std::string caFile;   // mqtts: the broker's certificate authority; empty: the system's
    std::string clientId; // empty: one of libmosquitto's
    // The broker keeps the subscriptions and queues QoS 1 messages for the
    // client while it is away (clean session off).
    bool keepSession = false;
    std::string willTopic; // the broker publishes willPayload there, retained, when the client is lost
    std::string willPayload;
    std::vector<std::string> subscriptions; // QoS 1, made again at every connection
};

// Called on libmosquitto's network thread.
struct MqttEvents {
    std::function<void(const std::string &topic, const uint8_t *payload, size_t size)> message;
    std::function<void(int messageId)> acknowledged; // a QoS 1 message reached the broker
    std::function<void()> reconnected;               // the broker is back after a loss
};

class MqttConnection {
public:
    // Throws ToolError with the broker's or the network's reason.
    MqttConnection(const MqttSettings &settings, MqttEvents events);
    // Stops the network thread; without disconnect() first the broker
    // publishes the will.
    ~MqttConnection();
    MqttConnection(const MqttConnection &) = delete;
    MqttConnection &operator=(const MqttConnection &) = delete;

    // Queues a QoS 1 message; its identifier for `acknowledged`. Throws
    // ToolError only for what no reconnection mends (no memory, too large).
    int publish(const std::string &topic, const void *payload, size_t size, bool retain);
    // Ends the connection cleanly: no will.
    void disconnect();
    bool connected() const { return connected_; }

private:
    static void onConnect(mosquitto *client, void *self, int result);
    static void onDisconnect(mosquitto *client, void *self, int result);
    static void onPublish(mosquitto *client, void *self, int messageId);
    static void onMessage(mosquitto *client, void *self, const mosquitto_message *message);
    void waitForAnswer();

    MqttSettings settings_;
    MqttEvents events_;
    mosquitto *client_ = nullptr;
    std::atomic<bool> connected_ = false;
    std::atomic<int> answer_ = -1; // the broker's CONNACK code; -1 before it came
    bool looping_ = false;
    bool disconnected_ = false;
};

} // namespace kvd::tool
