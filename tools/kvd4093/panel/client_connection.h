// One tab's WebSocket after the handshake, served on the connection's own
// thread (civetweb's, for as long as the connection lasts): it reads the
// tab's frames and writes what is queued for it, so a tab that stops
// reading holds up nothing but itself.
//
// Others queue messages from any thread without waiting. Text messages
// (states, answers, the log) are never dropped; a chart frame is dropped
// when one is still waiting for this tab, so a tab that falls behind sees a
// gap in the frames' column index. A tab that has had something waiting
// for kMostBehind, or that lets kMostWaitingBytes pile up, is closed.
//
// A tab's frame is refused by the length it declares, before any of its
// payload is read.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace kvd::tool::panel {

constexpr std::chrono::seconds kMostBehind{5};
constexpr size_t kMostWaitingBytes = 8u << 20;

class ClientConnection {
public:
    using Bytes = std::shared_ptr<const std::string>;

    // `socket` is the connection's, open for as long as serve() runs.
    explicit ClientConnection(int socket);
    ~ClientConnection();
    ClientConnection(const ClientConnection &) = delete;
    ClientConnection &operator=(const ClientConnection &) = delete;

    // From any thread, never waiting on the tab.
    void sendText(std::string_view text);
    void sendText(const Bytes &frame);       // a whole text WebSocket frame
    void sendChartFrame(const Bytes &frame); // a whole binary WebSocket frame
    void close();

    // On the connection's thread: reads and writes until the tab or the
    // server ends the connection. `message` gets every whole text message.
    void serve(const std::function<void(std::string_view)> &message);

private:
    struct Outgoing {
        Bytes bytes;
        bool chartFrame;
    };
    struct Queued {
        Bytes bytes;
        bool chartFrame;
        std::chrono::steady_clock::time_point since;
    };
    void queue(Outgoing outgoing);
    // serve()'s reads and writes, until the connection ends.
    void exchange(const std::function<void(std::string_view)> &message);
    void wake();
    // Queues a close frame; the connection ends once it is written.
    void endWith(uint16_t code, std::string_view reason);
    bool readSome(const std::function<void(std::string_view)> &message);
    void takeFrames(const std::function<void(std::string_view)> &message);
    bool writeSome();
    bool fellBehind();

    int socket_;
    int wakeUp_[2] = {-1, -1}; // a pipe: a byte in it wakes serve()

    std::mutex mutex_;
    std::deque<Queued> waiting_;
    size_t waitingBytes_ = 0;
    bool closing_ = false;
    bool endAfterWriting_ = false; // a close frame is the last thing sent; set by the serving thread

    // The serving thread's own.
    std::string input_;
    Bytes writing_;
    std::chrono::steady_clock::time_point writingSince_;
    size_t written_ = 0;
};

} // namespace kvd::tool::panel
