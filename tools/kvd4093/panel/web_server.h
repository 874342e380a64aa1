// The panel's HTTP and WebSocket server, on civetweb: it serves the page's
// files (page_files.h) and one WebSocket, /ws, and lets nothing through that
// the request guard refuses. Messages from a page arrive on civetweb's
// threads; sending is safe from any thread, and a slow or closing tab never
// blocks the others' sends for longer than its own write.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "panel/request_guard.h"

struct mg_context;
struct mg_connection;

namespace kvd::tool::panel {

using ClientId = uint64_t;

// The most tabs at once: each holds one of the server's threads.
constexpr size_t kMostClients = 8;

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

    int port() const { return port_; }
    const RequestGuard &guard() const { return *guard_; }

    void sendText(ClientId client, std::string_view text);
    void broadcastText(std::string_view text);
    void broadcastBinary(const std::vector<uint8_t> &bytes);
    // Tabs connected now, and whether one ever was.
    size_t clientCount() const;
    bool everConnected() const { return everConnected_.load(); }

private:
    struct Client;
    static int onRequest(mg_connection *connection, void *self);
    static int onWebSocketConnect(const mg_connection *connection, void *self);
    static void onWebSocketReady(mg_connection *connection, void *self);
    static int onWebSocketData(mg_connection *connection, int bits, char *data, size_t size, void *self);
    static void onWebSocketClose(const mg_connection *connection, void *self);

    std::optional<std::string> refusal(const mg_connection *connection) const;
    void send(const std::shared_ptr<Client> &client, int opcode, std::string_view bytes);
    std::vector<std::shared_ptr<Client>> allClients() const;

    ServerEvents events_;
    std::vector<std::string> hosts_;
    std::string token_;
    int port_ = 0;
    std::unique_ptr<RequestGuard> guard_; // made once the port is known
    mutable std::mutex mutex_;
    std::map<ClientId, std::shared_ptr<Client>> clients_;
    ClientId nextClient_ = 1;
    std::atomic<bool> everConnected_{false};
    mg_context *context_ = nullptr;
};

} // namespace kvd::tool::panel
