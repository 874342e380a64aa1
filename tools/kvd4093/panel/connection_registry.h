// The server's connections and their sockets, and the limit on those that
// have not yet sent a request: a connection holds one of civetweb's threads
// from the moment it is taken, so idle connections without a request (and
// so without a token) could hold them all and keep the page waiting. At
// most kMostWaitingPerAddress of them per client address and
// kMostWaitingInAll in all may wait: beyond that the oldest idle ones are
// ended, idle being older than kIdleAfter with nothing sent that the server
// has not read yet (a request sent whole is read at once). What has not sent
// its request within the server's request time-out is ended by civetweb.
//
// civetweb does not tell a connection's socket, so the registry finds the
// sockets among the process's open files: those whose local end is the
// server's port and which have a peer, each known by its peer's address and
// port.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace kvd::tool::panel {

constexpr size_t kMostWaitingPerAddress = 4;
constexpr size_t kMostWaitingInAll = 8;
constexpr auto kIdleAfter = std::chrono::milliseconds(250);
// The server sweeps this often, so the limits hold while no new connection comes.
constexpr auto kSweepPeriod = std::chrono::milliseconds(100);

struct ConnectionEnd {
    std::string address; // the peer's, dotted
    int port = 0;
    bool operator==(const ConnectionEnd &) const = default;
};

class ConnectionRegistry {
public:
    // Finds the connections to `localPort`: every one not known yet counts
    // as waiting for its request; the oldest idle ones beyond the limits are
    // ended. When a thread takes a new connection, and every kSweepPeriod.
    void sweep(int localPort);
    // The request from `peer` has arrived: it no longer counts as waiting.
    void requestArrived(const ConnectionEnd &peer);
    // Before civetweb closes the socket of the connection from `peer`.
    void closed(const ConnectionEnd &peer);
    // The socket of the connection from `peer`; -1 when unknown.
    int socketOf(const ConnectionEnd &peer) const;

private:
    struct Connection {
        int socket;
        ConnectionEnd peer;
        bool waiting;
        std::chrono::steady_clock::time_point since; // when it was found
    };
    void enforce(const std::string *address);

    std::mutex sweeping_;
    mutable std::mutex mutex_;
    std::vector<Connection> connections_; // in the order they were found
};

} // namespace kvd::tool::panel
