#include <condition_variable>
#include <mutex>

#include "acquisition/stop_on_signal.h"
#include "common/errors.h"
#include "common/system.h"
#include "network/collector.h"
#include "network/mqtt_connection.h"
#include "network/network.h"

namespace kvd::tool {
namespace {

// The broker keeps this client's subscription and queues its messages while
// it is away (a broker restarted with persistence, a collector restarted):
// one name per machine and prefix, so a collect started again takes up the
// session of the one before.
std::string clientId(const std::string &prefix) {
    std::string id = "kvd4093-collect-" + hostName() + "-" + prefix;
    for (char &c : id)
        c = c == '/' ? '_' : c;
    return id;
}

} // namespace

int collect(const CollectRequest &request) {
    Collector collector(request, stdout);
    MqttSettings settings;
    settings.address = request.address;
    settings.caFile = request.caFile;
    settings.clientId = clientId(request.address.topic);
    settings.keepSession = true;
    settings.subscriptions = {request.address.topic + "/#"};
    MqttEvents events;
    events.message = [&](const std::string &topic, const uint8_t *payload, size_t size) {
        collector.receive(topic, payload, size);
    };
    std::mutex mutex;
    std::condition_variable stopped;
    bool stopAsked = false;
    {
        MqttConnection connection(settings, std::move(events));
        std::printf("collecting %s/# from %s into %s\n", request.address.topic.c_str(),
                    request.address.shown().c_str(), request.folder.c_str());
        std::fflush(stdout);
        const StopOnSignal watcher([&] {
            const std::lock_guard lock(mutex);
            stopAsked = true;
            stopped.notify_one();
        });
        std::unique_lock lock(mutex);
        stopped.wait(lock, [&] { return stopAsked; });
        connection.disconnect();
    }
    collector.finishAll(stopSignal());
    return kExitSignalBase + stopSignal();
}

} // namespace kvd::tool
