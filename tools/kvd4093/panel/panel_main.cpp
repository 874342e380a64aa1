#include "panel/panel_main.h"

#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "common/errors.h"
#include "common/system.h"
#include "panel/card_controller.h"
#include "panel/request_guard.h"
#include "panel/web_server.h"

#if !defined(_WIN32)
#include <unistd.h>
#endif

namespace kvd::tool::panel {
namespace {

using namespace std::chrono_literals;

constexpr char kEveryAddress[] = "0.0.0.0";
// With --exit-with-page, no tab for this long ends the panel: a reload
// reconnects well within it.
constexpr auto kPageGoneAfter = 3s;
constexpr auto kWatchPeriod = 20ms;

// The names a Host header may give for the panel.
std::vector<std::string> panelHosts(const std::string &bind) {
    std::vector<std::string> hosts{bind};
    if (isLoopback(bind) || bind == kEveryAddress)
        hosts.insert(hosts.end(), {"127.0.0.1", "localhost"});
    if (const std::string name = hostName(); bind == kEveryAddress && !name.empty())
        hosts.push_back(name);
    return hosts;
}

// Waits for a stop signal or, when asked, for the last tab to go.
void waitForTheEnd(const WebServer &server, bool exitWithPage) {
    auto lastTabSeen = std::chrono::steady_clock::now();
    while (stopSignal() == 0) {
        const auto now = std::chrono::steady_clock::now();
        if (!server.everConnected() || server.clientCount() > 0)
            lastTabSeen = now;
        else if (exitWithPage && now - lastTabSeen >= kPageGoneAfter)
            return;
        std::this_thread::sleep_for(kWatchPeriod);
    }
}

} // namespace

bool isIpv4Address(const std::string &address) {
    int parts = 0;
    size_t start = 0;
    for (;;) {
        const size_t dot = address.find('.', start);
        const std::string part = address.substr(start, dot - start);
        if (part.empty() || part.size() > 3 || part.find_first_not_of("0123456789") != std::string::npos ||
            std::stoi(part) > 255)
            return false;
        ++parts;
        if (dot == std::string::npos)
            return parts == 4;
        start = dot + 1;
    }
}

bool isLoopback(const std::string &address) { return isIpv4Address(address) && address.rfind("127.", 0) == 0; }

int servePanel(const PanelOptions &options) {
    watchStopSignals();
    CardController controller(options.cards);
    WebServer server(options.bind, options.port, panelHosts(options.bind), makeToken(),
                     {[&](ClientId client) { controller.connected(client); },
                      [&](ClientId client, std::string_view text) { controller.received(client, text); },
                      [](ClientId) {}});
    controller.start(server);
    if (!isLoopback(options.bind))
        std::fprintf(stderr,
                     "kvd4093: warning: the panel listens on %s, where other machines reach it: anyone with the "
                     "address below can drive the card, and nothing is encrypted\n",
                     options.bind.c_str());
    const std::string shownHost = options.bind == kEveryAddress ? "127.0.0.1" : options.bind;
    const std::string address =
        "http://" + shownHost + ":" + std::to_string(server.port()) + "/?token=" + server.guard().token();
    std::printf("kvd4093 panel: %s\nCtrl-C stops the panel and the card.\n", address.c_str());
    std::fflush(stdout);
    if (options.openBrowser && !openInBrowser(address))
        std::fprintf(stderr, "kvd4093: warning: no browser could be opened; open the address above\n");
    waitForTheEnd(server, options.exitWithPage);
    controller.shutdown();
    const int signal = stopSignal();
    return signal != 0 ? kExitSignalBase + signal : kExitOk;
}

} // namespace kvd::tool::panel
