#include "panel/connection_registry.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <algorithm>
#include <filesystem>
#include <optional>

namespace kvd::tool::panel {
namespace {

// The peer of an IPv4 socket whose local end is `localPort`.
std::optional<ConnectionEnd> peerOf(int socket, int localPort) {
    sockaddr_in local{}, remote{};
    socklen_t localSize = sizeof local, remoteSize = sizeof remote;
    if (getsockname(socket, reinterpret_cast<sockaddr *>(&local), &localSize) != 0 || local.sin_family != AF_INET ||
        ntohs(local.sin_port) != localPort ||
        getpeername(socket, reinterpret_cast<sockaddr *>(&remote), &remoteSize) != 0)
        return std::nullopt;
    char text[INET_ADDRSTRLEN] = {};
    if (!inet_ntop(AF_INET, &remote.sin_addr, text, sizeof text))
        return std::nullopt;
    return ConnectionEnd{text, ntohs(remote.sin_port)};
}

std::vector<int> openFiles() {
    std::vector<int> files;
    std::error_code error;
    for (const auto &entry : std::filesystem::directory_iterator("/proc/self/fd", error)) {
        const std::string name = entry.path().filename().string();
        if (!name.empty() && name.find_first_not_of("0123456789") == std::string::npos)
            files.push_back(std::stoi(name));
    }
    return files;
}

} // namespace

void ConnectionRegistry::sweep(int localPort) {
    // One sweep at a time: an older look at the open files would forget a
    // connection a newer one found.
    const std::lock_guard sweeping(sweeping_);
    const auto now = std::chrono::steady_clock::now();
    std::vector<Connection> open;
    for (const int socket : openFiles())
        if (const std::optional<ConnectionEnd> peer = peerOf(socket, localPort))
            open.push_back({socket, *peer, true, now});
    const std::lock_guard lock(mutex_);
    // A socket closed since, or reused for another connection, is forgotten.
    std::erase_if(connections_, [&](const Connection &known) {
        return std::none_of(open.begin(), open.end(), [&](const Connection &o) {
            return o.socket == known.socket && o.peer == known.peer;
        });
    });
    for (const Connection &o : open)
        if (std::none_of(connections_.begin(), connections_.end(),
                         [&](const Connection &known) { return known.socket == o.socket; }))
            connections_.push_back(o);
    std::vector<std::string> addresses;
    for (const Connection &c : connections_)
        if (c.waiting && std::find(addresses.begin(), addresses.end(), c.peer.address) == addresses.end())
            addresses.push_back(c.peer.address);
    for (const std::string &address : addresses)
        enforce(&address);
    enforce(nullptr);
}

// Called with the mutex held: ends the oldest idle connections waiting for
// their request (from `address`, or from anywhere) while there are more
// than the limit. Shutting a socket down wakes the thread waiting on it,
// which then closes the connection; the socket is still this connection's,
// as closed() runs before civetweb closes it.
void ConnectionRegistry::enforce(const std::string *address) {
    const size_t limit = address ? kMostWaitingPerAddress : kMostWaitingInAll;
    const auto counts = [&](const Connection &c) { return c.waiting && (!address || c.peer.address == *address); };
    auto waiting = size_t(std::count_if(connections_.begin(), connections_.end(), counts));
    const auto now = std::chrono::steady_clock::now();
    for (Connection &c : connections_) {
        if (waiting <= limit)
            return;
        int unread = 0;
        if (counts(c) && now - c.since >= kIdleAfter && ioctl(c.socket, FIONREAD, &unread) == 0 && unread == 0) {
            c.waiting = false;
            shutdown(c.socket, SHUT_RDWR);
            --waiting;
        }
    }
}

void ConnectionRegistry::requestArrived(const ConnectionEnd &peer) {
    const std::lock_guard lock(mutex_);
    for (Connection &c : connections_)
        if (c.peer == peer)
            c.waiting = false;
}

void ConnectionRegistry::closed(const ConnectionEnd &peer) {
    const std::lock_guard lock(mutex_);
    std::erase_if(connections_, [&](const Connection &c) { return c.peer == peer; });
}

int ConnectionRegistry::socketOf(const ConnectionEnd &peer) const {
    const std::lock_guard lock(mutex_);
    for (const Connection &c : connections_)
        if (c.peer == peer)
            return c.socket;
    return -1;
}

} // namespace kvd::tool::panel
