#include "network/mqtt_connection.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include <mosquitto.h>

#include "common/errors.h"

namespace kvd::tool {
namespace {

constexpr int kKeepAliveSeconds = 10;
// How long the first connection may take before the broker is given up.
constexpr auto kAnswerTimeout = std::chrono::seconds(10);
// A lost broker is tried again after 1 s, then every 2 s.
constexpr unsigned kReconnectDelay = 1;
constexpr unsigned kLongestReconnectDelay = 2;

void initialiseLibrary() {
    static std::once_flag once;
    std::call_once(once, [] {
        mosquitto_lib_init();
        std::atexit([] { mosquitto_lib_cleanup(); });
    });
}

std::string reason(int result) {
    return result == MOSQ_ERR_ERRNO ? std::strerror(errno) : mosquitto_strerror(result);
}

[[noreturn]] void fail(const MqttSettings &settings, const std::string &why) {
    throw ToolError(settings.address.shown() + ": " + why);
}

void check(const MqttSettings &settings, int result, const char *what) {
    if (result != MOSQ_ERR_SUCCESS)
        fail(settings, std::string(what) + ": " + reason(result));
}

} // namespace

MqttConnection::MqttConnection(const MqttSettings &settings, MqttEvents events)
    : settings_(settings), events_(std::move(events)) {
    initialiseLibrary();
    client_ = mosquitto_new(settings.clientId.empty() ? nullptr : settings.clientId.c_str(), !settings.keepSession,
                            this);
    if (client_ == nullptr)
        fail(settings, "cannot make an MQTT client: " + reason(MOSQ_ERR_ERRNO));
    try {
        const BrokerAddress &address = settings.address;
        if (!address.user.empty()) {
            const char *password = std::getenv(kPasswordVariable);
            check(settings, mosquitto_username_pw_set(client_, address.user.c_str(), password), "the login");
        }
        if (address.tls) {
            if (settings.caFile.empty())
                check(settings, mosquitto_int_option(client_, MOSQ_OPT_TLS_USE_OS_CERTS, 1), "TLS");
            else
                check(settings, mosquitto_tls_set(client_, settings.caFile.c_str(), nullptr, nullptr, nullptr, nullptr),
                      ("TLS with " + settings.caFile).c_str());
        }
        if (!settings.willTopic.empty())
            check(settings, mosquitto_will_set(client_, settings.willTopic.c_str(), int(settings.willPayload.size()),
                                               settings.willPayload.data(), 1, true),
                  "the last will");
        mosquitto_connect_callback_set(client_, onConnect);
        mosquitto_disconnect_callback_set(client_, onDisconnect);
        mosquitto_publish_callback_set(client_, onPublish);
        mosquitto_message_callback_set(client_, onMessage);
        mosquitto_reconnect_delay_set(client_, kReconnectDelay, kLongestReconnectDelay, false);
        check(settings, mosquitto_connect(client_, address.host.c_str(), address.port, kKeepAliveSeconds),
              "cannot connect");
        waitForAnswer();
        check(settings, mosquitto_loop_start(client_), "cannot start the network thread");
        looping_ = true;
    } catch (...) {
        mosquitto_destroy(client_);
        throw;
    }
}

MqttConnection::~MqttConnection() {
    if (looping_)
        mosquitto_loop_stop(client_, !disconnected_); // after a disconnect the thread ends by itself
    mosquitto_destroy(client_);
}

// The broker's CONNACK, read on this thread before the network thread starts.
void MqttConnection::waitForAnswer() {
    const auto deadline = std::chrono::steady_clock::now() + kAnswerTimeout;
    while (answer_ < 0) {
        const int result = mosquitto_loop(client_, 100, 1);
        if (answer_ >= 0)
            break;
        if (result != MOSQ_ERR_SUCCESS)
            fail(settings_, "the connection failed: " + reason(result));
        if (std::chrono::steady_clock::now() > deadline)
            fail(settings_, "no answer from the broker");
    }
    if (answer_ != 0)
        fail(settings_, std::string("the broker refused the connection: ") + mosquitto_connack_string(answer_) +
                            (settings_.address.user.empty() ? "" : std::string(" (the password comes from ") +
                                                                       kPasswordVariable + ")"));
}

int MqttConnection::publish(const std::string &topic, const void *payload, size_t size, bool retain) {
    int messageId = 0;
    const int result = mosquitto_publish(client_, &messageId, topic.c_str(), int(size), payload, 1, retain);
    // Not connected: libmosquitto keeps the message and sends it once it is.
    if (result != MOSQ_ERR_SUCCESS && result != MOSQ_ERR_NO_CONN)
        fail(settings_, "cannot publish on " + topic + ": " + reason(result));
    return messageId;
}

void MqttConnection::disconnect() {
    disconnected_ = mosquitto_disconnect(client_) == MOSQ_ERR_SUCCESS;
}

void MqttConnection::onConnect(mosquitto *client, void *self, int result) {
    auto *connection = static_cast<MqttConnection *>(self);
    const bool again = connection->answer_ >= 0;
    connection->answer_ = result;
    connection->connected_ = result == 0;
    if (result != 0)
        return;
    for (const std::string &topic : connection->settings_.subscriptions)
        mosquitto_subscribe(client, nullptr, topic.c_str(), 1);
    if (again && connection->events_.reconnected)
        connection->events_.reconnected();
}

void MqttConnection::onDisconnect(mosquitto *, void *self, int) {
    static_cast<MqttConnection *>(self)->connected_ = false;
}

void MqttConnection::onPublish(mosquitto *, void *self, int messageId) {
    auto *connection = static_cast<MqttConnection *>(self);
    if (connection->events_.acknowledged)
        connection->events_.acknowledged(messageId);
}

void MqttConnection::onMessage(mosquitto *, void *self, const mosquitto_message *message) {
    auto *connection = static_cast<MqttConnection *>(self);
    if (connection->events_.message)
        connection->events_.message(message->topic, static_cast<const uint8_t *>(message->payload),
                                    size_t(message->payloadlen));
}

} // namespace kvd::tool
