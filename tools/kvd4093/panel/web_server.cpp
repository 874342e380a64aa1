#include "panel/web_server.h"

#include <civetweb.h>
#include <cstring>

#include "common/errors.h"
#include "panel/page_files.h"
#include "panel/panel_commands.h"

namespace kvd::tool::panel {
namespace {

constexpr uint16_t kCloseUnsupported = 1003;
constexpr uint16_t kCloseTooBig = 1009;
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

std::string closePayload(uint16_t code, std::string_view reason) {
    std::string payload{char(code >> 8), char(code & 0xFF)};
    return payload.append(reason);
}

} // namespace

struct WebServer::Client {
    ClientId id;
    mg_connection *connection;
    std::mutex mutex; // one write at a time; held while the connection closes
    bool open = true;
};

WebServer::WebServer(const std::string &bind, int port, std::vector<std::string> hosts, std::string token,
                     ServerEvents events)
    : events_(std::move(events)), hosts_(std::move(hosts)), token_(std::move(token)) {
    const std::string listening = bind + ":" + std::to_string(port);
    const char *options[] = {"listening_ports", listening.c_str(),
                             "num_threads", "16",
                             "request_timeout_ms", "10000",
                             "websocket_timeout_ms", "5000",
                             "enable_websocket_ping_pong", "yes",
                             nullptr};
    mg_callbacks callbacks{};
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
    mg_set_websocket_handler(context_, kWebSocketPath, onWebSocketConnect, onWebSocketReady, onWebSocketData,
                             onWebSocketClose, this);
    mg_set_request_handler(context_, "/", onRequest, this);
}

WebServer::~WebServer() { mg_stop(context_); }

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

int WebServer::onWebSocketConnect(const mg_connection *connection, void *self) {
    auto &server = *static_cast<WebServer *>(self);
    std::optional<std::string> why = server.refusal(connection);
    if (!why && server.clientCount() >= kMostClients)
        why = "already " + std::to_string(kMostClients) + " tabs are open";
    if (!why)
        return 0;
    // Still plain HTTP here: the refusal is an answer a client can read.
    respond(const_cast<mg_connection *>(connection), 403, "Forbidden", "text/plain; charset=utf-8",
            "refused: " + *why + "\n");
    return 1;
}

void WebServer::onWebSocketReady(mg_connection *connection, void *self) {
    auto &server = *static_cast<WebServer *>(self);
    auto client = std::make_shared<Client>();
    client->connection = connection;
    {
        const std::lock_guard lock(server.mutex_);
        client->id = server.nextClient_++;
        server.clients_[client->id] = client;
    }
    mg_set_user_connection_data(connection, reinterpret_cast<void *>(uintptr_t(client->id)));
    server.everConnected_.store(true);
    server.events_.connected(client->id);
}

int WebServer::onWebSocketData(mg_connection *connection, int bits, char *data, size_t size, void *self) {
    auto &server = *static_cast<WebServer *>(self);
    const auto id = ClientId(reinterpret_cast<uintptr_t>(mg_get_user_connection_data(connection)));
    const int opcode = bits & 0x0F;
    const bool whole = (bits & 0x80) != 0;
    if (opcode == MG_WEBSOCKET_OPCODE_CONNECTION_CLOSE || opcode == MG_WEBSOCKET_OPCODE_PONG ||
        opcode == MG_WEBSOCKET_OPCODE_PING)
        return 1;
    std::optional<uint16_t> closing;
    if (opcode != MG_WEBSOCKET_OPCODE_TEXT || !whole)
        closing = kCloseUnsupported; // binary, or a message in pieces
    else if (size > kMaxMessageBytes)
        closing = kCloseTooBig;
    if (closing) {
        const std::string payload = closePayload(*closing, *closing == kCloseTooBig ? "too big" : "text only");
        mg_websocket_write(connection, MG_WEBSOCKET_OPCODE_CONNECTION_CLOSE, payload.data(), payload.size());
        return 0;
    }
    server.events_.message(id, std::string_view(data, size));
    return 1;
}

void WebServer::onWebSocketClose(const mg_connection *connection, void *self) {
    auto &server = *static_cast<WebServer *>(self);
    const auto id = ClientId(reinterpret_cast<uintptr_t>(mg_get_user_connection_data(connection)));
    std::shared_ptr<Client> client;
    {
        const std::lock_guard lock(server.mutex_);
        const auto found = server.clients_.find(id);
        if (found == server.clients_.end())
            return;
        client = found->second;
        server.clients_.erase(found);
    }
    {
        // After this no send touches the connection, which civetweb reuses.
        const std::lock_guard lock(client->mutex);
        client->open = false;
    }
    server.events_.disconnected(id);
}

std::vector<std::shared_ptr<WebServer::Client>> WebServer::allClients() const {
    const std::lock_guard lock(mutex_);
    std::vector<std::shared_ptr<Client>> all;
    for (const auto &[id, client] : clients_)
        all.push_back(client);
    return all;
}

void WebServer::send(const std::shared_ptr<Client> &client, int opcode, std::string_view bytes) {
    const std::lock_guard lock(client->mutex);
    if (client->open)
        mg_websocket_write(client->connection, opcode, bytes.data(), bytes.size());
}

void WebServer::sendText(ClientId id, std::string_view text) {
    std::shared_ptr<Client> client;
    {
        const std::lock_guard lock(mutex_);
        const auto found = clients_.find(id);
        if (found == clients_.end())
            return;
        client = found->second;
    }
    send(client, MG_WEBSOCKET_OPCODE_TEXT, text);
}

void WebServer::broadcastText(std::string_view text) {
    for (const auto &client : allClients())
        send(client, MG_WEBSOCKET_OPCODE_TEXT, text);
}

void WebServer::broadcastBinary(const std::vector<uint8_t> &bytes) {
    const std::string_view view(reinterpret_cast<const char *>(bytes.data()), bytes.size());
    for (const auto &client : allClients())
        send(client, MG_WEBSOCKET_OPCODE_BINARY, view);
}

size_t WebServer::clientCount() const {
    const std::lock_guard lock(mutex_);
    return clients_.size();
}

} // namespace kvd::tool::panel
