#include "panel/web_server.h"

#include <civetweb.h>

#include <cctype>
#include <cstring>

#include "common/errors.h"
#include "panel/page_files.h"
#include "panel/panel_commands.h"
#include "panel/websocket_frames.h"

namespace kvd::tool::panel {
namespace {

constexpr char kWebSocketPath[] = "/ws";

// The page may load its own files and talk to its own server, nothing else:
// no inline script, no other site, no framing by another page.
constexpr char kSecurityHeaders[] =
    "Content-Security-Policy: default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self' data:; "
    "connect-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'\r\n"
    "X-Content-Type-Options: nosniff\r\n"
    "X-Frame-Options: DENY\r\n"
    "Referrer-Policy: no-referrer\r\n"
    "Cache-Control: no-store\r\n";

std::optional<std::string_view> header(const mg_connection *connection, const char *name) {
    const char *value = mg_get_header(connection, name);
    return value ? std::optional<std::string_view>(value) : std::nullopt;
}

void respond(mg_connection *connection, int status, const char *reason, std::string_view type,
             std::string_view body) {
    mg_printf(connection,
              "HTTP/1.1 %d %s\r\nContent-Type: %.*s\r\nContent-Length: %zu\r\n%sConnection: close\r\n\r\n", status,
              reason, int(type.size()), type.data(), body.size(), kSecurityHeaders);
    mg_write(connection, body.data(), body.size());
}

std::string withToken(std::string_view html, const std::string &token) {
    std::string page(html);
    for (size_t at = page.find(kTokenPlaceholder); at != std::string::npos;
         at = page.find(kTokenPlaceholder, at + token.size()))
        page.replace(at, kTokenPlaceholder.size(), token);
    return page;
}

bool headerHas(const mg_connection *connection, const char *name, std::string_view word) {
    const std::optional<std::string_view> value = header(connection, name);
    if (!value)
        return false;
    std::string lower(*value);
    for (char &c : lower)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return lower.find(word) != std::string::npos;
}

ConnectionEnd peerOf(const mg_connection *connection) {
    const mg_request_info *request = mg_get_request_info(connection);
    return request ? ConnectionEnd{request->remote_addr, request->remote_port} : ConnectionEnd{};
}

WebServer &serverOf(const mg_connection *connection) {
    return *static_cast<WebServer *>(mg_get_user_data(mg_get_context(connection)));
}

} // namespace

WebServer::WebServer(const std::string &bind, int port, std::vector<std::string> hosts, std::string token,
                     ServerEvents events)
    : events_(std::move(events)), hosts_(std::move(hosts)), token_(std::move(token)) {
    const std::string listening = bind + ":" + std::to_string(port);
    // Threads for every tab, every connection that may wait for its request
    // and as many again for the page's files; a request has
    // kRequestTimeoutMs to arrive whole.
    const std::string threads = std::to_string(kMostClients + kMostWaitingInAll + kMostClients);
    const std::string requestTimeout = std::to_string(kRequestTimeoutMs);
    const char *options[] = {"listening_ports", listening.c_str(),
                             "num_threads", threads.c_str(),
                             "request_timeout_ms", requestTimeout.c_str(),
                             nullptr};
    mg_callbacks callbacks{};
    callbacks.init_connection = onConnectionOpened;
    callbacks.begin_request = onRequestArrived;
    callbacks.connection_close = onConnectionClosing;
    mg_init_data init{&callbacks, this, options};
    char text[256] = {};
    unsigned code = 0;
    mg_error_data error{&code, text, sizeof text};
    context_ = mg_start2(&init, &error);
    if (context_ == nullptr)
        throw ToolError("the panel cannot listen on " + listening + ": " + (text[0] ? text : "unknown reason"));
    mg_server_port ports[1] = {};
    if (mg_get_server_ports(context_, 1, ports) != 1) {
        mg_stop(context_);
        throw ToolError("the panel cannot tell which port it listens on");
    }
    port_ = ports[0].port;
    // The handlers come after the guard: until then civetweb answers every request with 404.
    guard_ = std::make_unique<RequestGuard>(token_, hosts_, port_);
    mg_set_request_handler(context_, "/", onRequest, this);
    ready_.store(true);
    sweeper_ = std::thread([this] { sweep(); });
}

WebServer::~WebServer() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    stopped_.notify_all();
    sweeper_.join();
    for (const auto &client : allClients())
        client->close();
    mg_stop(context_);
}

// The limits on connections waiting for their request hold while no new
// connection comes, when every thread may be waiting.
void WebServer::sweep() {
    std::unique_lock lock(mutex_);
    while (!stopped_.wait_for(lock, kSweepPeriod, [&] { return stopping_; })) {
        lock.unlock();
        connections_.sweep(port_.load());
        lock.lock();
    }
}

int WebServer::onConnectionOpened(const mg_connection *connection, void **) {
    WebServer &server = serverOf(connection);
    if (const int port = server.port_.load(); port != 0)
        server.connections_.sweep(port);
    return 0;
}

// civetweb would take an upgrade to its own WebSocket: /ws is served here,
// before it looks for handlers.
int WebServer::onRequestArrived(mg_connection *connection) {
    WebServer &server = serverOf(connection);
    server.connections_.requestArrived(peerOf(connection));
    const mg_request_info *request = mg_get_request_info(connection);
    if (server.ready_.load() && request->local_uri && std::strcmp(request->local_uri, kWebSocketPath) == 0)
        return server.serveWebSocket(connection);
    return 0; // civetweb goes on to the handler
}

void WebServer::onConnectionClosing(const mg_connection *connection) {
    serverOf(connection).connections_.closed(peerOf(connection));
}

std::optional<std::string> WebServer::refusal(const mg_connection *connection) const {
    const mg_request_info *request = mg_get_request_info(connection);
    return guard_->refusal(request->query_string ? request->query_string : "", header(connection, "Host"),
                           header(connection, "Origin"));
}

int WebServer::onRequest(mg_connection *connection, void *self) {
    auto &server = *static_cast<WebServer *>(self);
    const mg_request_info *request = mg_get_request_info(connection);
    if (const std::optional<std::string> why = server.refusal(connection)) {
        respond(connection, 403, "Forbidden", "text/plain; charset=utf-8", "refused: " + *why + "\n");
        return 403;
    }
    if (std::strcmp(request->request_method, "GET") != 0) {
        respond(connection, 405, "Method Not Allowed", "text/plain; charset=utf-8", "only GET is served\n");
        return 405;
    }
    const PageFile *file = findPageFile(request->local_uri ? request->local_uri : "");
    if (file == nullptr) {
        respond(connection, 404, "Not Found", "text/plain; charset=utf-8", "no such file\n");
        return 404;
    }
    respond(connection, 200, "OK", file->contentType,
            file->path == "/" ? withToken(file->bytes, server.token_) : std::string(file->bytes));
    return 200;
}

std::shared_ptr<ClientConnection> WebServer::admit(int socket, ClientId &id, std::string &refused) {
    const std::lock_guard lock(mutex_);
    if (stopping_) {
        refused = "the panel is ending";
        return nullptr;
    }
    if (clients_.size() >= kMostClients) {
        refused = "already " + std::to_string(kMostClients) + " tabs are open";
        return nullptr;
    }
    id = nextClient_++;
    auto client = std::make_shared<ClientConnection>(socket);
    clients_[id] = client;
    return client;
}

// The opening handshake, then the connection's frames until it ends, on
// this connection's thread.
int WebServer::serveWebSocket(mg_connection *connection) {
    std::optional<std::string> why = refusal(connection);
    if (!why && std::strcmp(mg_get_request_info(connection)->request_method, "GET") != 0)
        why = "a WebSocket opens with GET";
    const std::optional<std::string_view> key = header(connection, "Sec-WebSocket-Key");
    if (!why && (!headerHas(connection, "Upgrade", "websocket") || !key ||
                 header(connection, "Sec-WebSocket-Version") != std::optional<std::string_view>("13")))
        why = "not a WebSocket handshake of version 13";
    const int socket = connections_.socketOf(peerOf(connection));
    if (!why && socket < 0)
        why = "the connection's socket is not known";
    ClientId id = 0;
    std::string full;
    const std::shared_ptr<ClientConnection> client = why ? nullptr : admit(socket, id, full);
    if (!why && !client)
        why = full;
    if (why) {
        respond(connection, 403, "Forbidden", "text/plain; charset=utf-8", "refused: " + *why + "\n");
        return 403;
    }
    const std::string accept = websocket::acceptKey(*key);
    mg_printf(connection,
              "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
              "Sec-WebSocket-Accept: %s\r\n\r\n",
              accept.c_str());
    everConnected_.store(true);
    events_.connected(id);
    client->serve([&](std::string_view text) { events_.message(id, text); });
    {
        const std::lock_guard lock(mutex_);
        clients_.erase(id);
    }
    events_.disconnected(id);
    return 101;
}

std::vector<std::shared_ptr<ClientConnection>> WebServer::allClients() const {
    const std::lock_guard lock(mutex_);
    std::vector<std::shared_ptr<ClientConnection>> all;
    for (const auto &[id, client] : clients_)
        all.push_back(client);
    return all;
}

void WebServer::sendText(ClientId id, std::string_view text) {
    std::shared_ptr<ClientConnection> client;
    {
        const std::lock_guard lock(mutex_);
        const auto found = clients_.find(id);
        if (found == clients_.end())
            return;
        client = found->second;
    }
    client->sendText(text);
}

void WebServer::broadcastText(std::string_view text) {
    const auto frame = std::make_shared<const std::string>(websocket::encodeFrame(websocket::kText, text));
    for (const auto &client : allClients())
        client->sendText(frame);
}

void WebServer::broadcastBinary(const std::vector<uint8_t> &bytes) {
    const auto frame = std::make_shared<const std::string>(websocket::encodeFrame(
        websocket::kBinary, std::string_view(reinterpret_cast<const char *>(bytes.data()), bytes.size())));
    for (const auto &client : allClients())
        client->sendChartFrame(frame);
}

size_t WebServer::clientCount() const {
    const std::lock_guard lock(mutex_);
    return clients_.size();
}

} // namespace kvd::tool::panel
