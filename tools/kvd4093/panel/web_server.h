// The panel's HTTP and WebSocket server, on civetweb: it serves the page's
// files (page_files.h) and one WebSocket, /ws, and lets nothing through that
// the request guard refuses. civetweb accepts the connections and reads the
// requests; the WebSocket after its handshake is the panel's own
// (ClientConnection), served on the connection's thread, so that a frame is
// refused by its declared length and a tab that stops reading holds up no
// one else. Messages from a page arrive on those threads; sending is safe
// from any thread and never waits on a tab.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "panel/client_connection.h"
#include "panel/connection_registry.h"
#include "panel/request_guard.h"

struct mg_context;
struct mg_connection;

namespace kvd::tool::panel {

using ClientId = uint64_t;

// The most tabs at once: each holds one of the server's threads.
constexpr size_t kMostClients = 8;
// A connection has this long to send its request whole.
constexpr int kRequestTimeoutMs = 3000;

struct ServerEvents {
    std::function<void(ClientId)> connected;
    std::function<void(ClientId, std::string_view)> message; // a whole text message
    std::function<void(ClientId)> disconnected;
};

class WebServer {
public:
    // Listens on `bind`:`port` (port 0: any free port); throws ToolError
    // when it cannot. `hosts` are the names the Host header may give.
    WebServer(const std::string &bind, int port, std::vector<std::string> hosts, std::string token,
              ServerEvents events);
    ~WebServer();
    WebServer(const WebServer &) = delete;
    WebServer &operator=(const WebServer &) = delete;

    int port() const { return port_.load(); }
    const RequestGuard &guard() const { return *guard_; }

    void sendText(ClientId client, std::string_view text);
    void broadcastText(std::string_view text);
    void broadcastBinary(const std::vector<uint8_t> &bytes);
    // Tabs connected now, and whether one ever was.
    size_t clientCount() const;
    bool everConnected() const { return everConnected_.load(); }

private:
    static int onRequest(mg_connection *connection, void *self);
    static int onConnectionOpened(const mg_connection *connection, void **);
    static int onRequestArrived(mg_connection *connection);
    static void onConnectionClosing(const mg_connection *connection);

    std::optional<std::string> refusal(const mg_connection *connection) const;
    int serveWebSocket(mg_connection *connection);
    // Takes a place among kMostClients in the same step as it counts them.
    std::shared_ptr<ClientConnection> admit(int socket, ClientId &id, std::string &refused);
    std::vector<std::shared_ptr<ClientConnection>> allClients() const;
    void sweep();

    ServerEvents events_;
    std::vector<std::string> hosts_;
    std::string token_;
    std::atomic<int> port_{0}; // read by civetweb's threads from the first connection on
    std::unique_ptr<RequestGuard> guard_; // made once the port is known
    std::atomic<bool> ready_{false};      // the guard is made
    ConnectionRegistry connections_;
    mutable std::mutex mutex_;
    std::map<ClientId, std::shared_ptr<ClientConnection>> clients_;
    bool stopping_ = false;
    std::condition_variable stopped_;
    ClientId nextClient_ = 1;
    std::atomic<bool> everConnected_{false};
    mg_context *context_ = nullptr;
    std::thread sweeper_;
};

} // namespace kvd::tool::panel
