#include "tool/mqtt_broker.h"

#include <chrono>
#include <csignal>
#include <filesystem>
#include <stdexcept>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "support/test_support.h"
#include "tool/tool_process.h"

namespace kvd::testing {
namespace {

constexpr const char *kBroker = "/usr/sbin/mosquitto";
constexpr const char *kPasswordTool = "/usr/bin/mosquitto_passwd";

sockaddr_in loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// A port the system gives, free when it is asked for.
int freePort() {
    const int socket = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = loopback(0);
    socklen_t size = sizeof address;
    if (bind(socket, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        getsockname(socket, reinterpret_cast<sockaddr *>(&address), &size) != 0)
        throw std::runtime_error("no free port on 127.0.0.1");
    close(socket);
    return ntohs(address.sin_port);
}

bool accepts(int port) {
    const int socket = ::socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in address = loopback(port);
    const bool connected = connect(socket, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
    close(socket);
    return connected;
}

} // namespace

std::string MqttBroker::missing(const std::string &folder) {
    if (!std::filesystem::exists(kBroker) || !std::filesystem::exists(kPasswordTool))
        return std::string("no ") + kBroker + " (Debian: mosquitto)";
    const ChildResult help = runTool(folder, {"collect", "--help"});
    if (help.out.find("built without libmosquitto") != std::string::npos ||
        help.err.find("built without libmosquitto") != std::string::npos)
        return "kvd4093 was built without libmosquitto";
    return {};
}

MqttBroker::MqttBroker(const std::string &folder) : folder_(folder + "/broker"), port_(freePort()) {
    std::filesystem::create_directories(folder_);
    const ChildResult password =
        runChild(kPasswordTool, {"-c", "-b", folder_ + "/passwords", "daq", kBrokerPassword}, folder_);
    if (password.exitCode != 0)
        throw std::runtime_error("mosquitto_passwd failed: " + password.err);
    // Every message queued for an absent subscriber is kept (0: no limit),
    // and sent one at a time, so that they come in order after a restart.
    // Started as root, mosquitto would switch to its own user, who may not
    // read the test's folder.
    writeWholeFile(folder_ + "/mosquitto.conf", "listener " + std::to_string(port_) + " 127.0.0.1\n" +
                                                    "allow_anonymous false\n"
                                                    "password_file " + folder_ + "/passwords\n"
                                                    "persistence true\n"
                                                    "persistence_location " + folder_ + "/\n"
                                                    "max_queued_messages 0\n"
                                                    "max_inflight_messages 1\n"
                                                    "log_dest file " + folder_ + "/broker.log\n"
                                                    "log_type subscribe\n" +
                                                    (getuid() == 0 ? "user root\n" : ""));
    start();
}

MqttBroker::~MqttBroker() { stop(); }

std::string MqttBroker::address(const std::string &prefix) const {
    return "mqtt://daq@127.0.0.1:" + std::to_string(port_) + "/" + prefix;
}

void MqttBroker::start() {
    process_ = std::make_unique<ChildProcess>(kBroker, std::vector<std::string>{"-c", folder_ + "/mosquitto.conf"},
                                              folder_);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!accepts(port_)) {
        if (std::chrono::steady_clock::now() > deadline)
            throw std::runtime_error("mosquitto did not listen on port " + std::to_string(port_));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

void MqttBroker::waitForSubscription(const std::string &topic) const {
    waitForText(folder_ + "/broker.log", " " + topic);
}

void MqttBroker::stop() {
    if (!process_)
        return;
    process_->signal(SIGTERM);
    process_->wait(std::chrono::seconds(20));
    process_.reset();
}

} // namespace kvd::testing
