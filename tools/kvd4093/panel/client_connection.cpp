#include "panel/client_connection.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "panel/panel_commands.h"
#include "panel/websocket_frames.h"

namespace kvd::tool::panel {
namespace {

constexpr size_t kReadChunk = 16 * 1024;
// serve() looks this often whether the tab fell behind.
constexpr int kPollMs = 100;

bool wouldBlock() { return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR; }

} // namespace

ClientConnection::ClientConnection(int socket) : socket_(socket) {
    if (pipe2(wakeUp_, O_NONBLOCK | O_CLOEXEC) != 0)
        wakeUp_[0] = wakeUp_[1] = -1; // serve() then only looks every kPollMs
}

ClientConnection::~ClientConnection() {
    for (int end : wakeUp_)
        if (end >= 0)
            ::close(end);
}

void ClientConnection::wake() {
    const char byte = 1;
    if (wakeUp_[1] >= 0 && write(wakeUp_[1], &byte, 1) < 0) {
        // A full pipe already wakes serve().
    }
}

void ClientConnection::queue(Outgoing outgoing) {
    {
        const std::lock_guard lock(mutex_);
        if (closing_ || endAfterWriting_)
            return;
        if (outgoing.chartFrame) {
            for (const Queued &queued : waiting_)
                if (queued.chartFrame)
                    return; // the tab is behind: this frame is dropped
        } else if (waitingBytes_ + outgoing.bytes->size() > kMostWaitingBytes) {
            closing_ = true; // answers are never dropped: a tab this far behind goes
        }
        if (!closing_) {
            waitingBytes_ += outgoing.bytes->size();
            waiting_.push_back({std::move(outgoing.bytes), outgoing.chartFrame, std::chrono::steady_clock::now()});
        }
    }
    wake();
}

void ClientConnection::sendText(std::string_view text) {
    queue({std::make_shared<const std::string>(websocket::encodeFrame(websocket::kText, text)), false});
}

void ClientConnection::sendText(const Bytes &frame) { queue({frame, false}); }

void ClientConnection::sendChartFrame(const Bytes &frame) { queue({frame, true}); }

void ClientConnection::close() {
    {
        const std::lock_guard lock(mutex_);
        closing_ = true;
    }
    wake();
}

void ClientConnection::endWith(uint16_t code, std::string_view reason) {
    queue({std::make_shared<const std::string>(websocket::closeFrame(code, reason)), false});
    const std::lock_guard lock(mutex_);
    endAfterWriting_ = true;
}

void ClientConnection::serve(const std::function<void(std::string_view)> &message) {
    exchange(message);
    close(); // nothing is queued for a connection that has ended
}

void ClientConnection::exchange(const std::function<void(std::string_view)> &message) {
    bool reading = true;
    for (;;) {
        bool hasOutput;
        {
            const std::lock_guard lock(mutex_);
            if (closing_ || fellBehind())
                return;
            if (endAfterWriting_ && !writing_ && waiting_.empty())
                return;
            reading = reading && !endAfterWriting_;
            hasOutput = writing_ || !waiting_.empty();
        }
        pollfd watched[2] = {{socket_, short((reading ? POLLIN : 0) | (hasOutput ? POLLOUT : 0)), 0},
                             {wakeUp_[0], POLLIN, 0}};
        if (poll(watched, wakeUp_[0] >= 0 ? 2 : 1, kPollMs) < 0 && errno != EINTR)
            return;
        if (watched[1].revents & POLLIN) {
            char drained[64];
            while (read(wakeUp_[0], drained, sizeof drained) > 0) {
            }
        }
        if (watched[0].revents & (POLLERR | POLLNVAL))
            return;
        if (reading && (watched[0].revents & (POLLIN | POLLHUP)) && !readSome(message))
            return;
        if (hasOutput && !writeSome())
            return;
    }
}

// Called with the mutex held: something has waited for this tab too long.
bool ClientConnection::fellBehind() {
    const auto oldest = writing_ ? writingSince_ : waiting_.empty() ? std::chrono::steady_clock::time_point::max()
                                                                    : waiting_.front().since;
    return oldest != std::chrono::steady_clock::time_point::max() &&
           std::chrono::steady_clock::now() - oldest > kMostBehind;
}

// False when the connection ended.
bool ClientConnection::readSome(const std::function<void(std::string_view)> &message) {
    char chunk[kReadChunk];
    const ssize_t got = recv(socket_, chunk, sizeof chunk, MSG_DONTWAIT);
    if (got == 0 || (got < 0 && !wouldBlock()))
        return false;
    if (got > 0)
        input_.append(chunk, size_t(got));
    takeFrames(message);
    return true;
}

// Handles the whole frames read so far. A frame is judged by its header
// alone, before its payload is read: what is refused ends the connection
// with a close frame, and nothing more is read.
void ClientConnection::takeFrames(const std::function<void(std::string_view)> &message) {
    using namespace websocket;
    while (!endAfterWriting_) {
        const std::optional<FrameHeader> header = parseHeader(input_);
        if (!header)
            return;
        const bool control = header->opcode >= kClose;
        if (!header->masked)
            return endWith(kCloseProtocolError, "frames from a client are masked");
        if (control && (header->length > kMostControlBytes || !header->final))
            return endWith(kCloseProtocolError, "a control frame too long or in pieces");
        if (!control && (header->opcode != kText || !header->final))
            return endWith(kCloseUnsupported, "text only");
        if (header->length > kMaxMessageBytes)
            return endWith(kCloseTooBig, "too big");
        if (input_.size() < header->size + header->length)
            return;
        std::string payload = input_.substr(header->size, size_t(header->length));
        input_.erase(0, header->size + size_t(header->length));
        applyMask(*header, payload.data(), payload.size());
        switch (header->opcode) {
        case kText:
            message(payload);
            break;
        case kClose: // answered with the tab's own code, and the connection ends
            return endWith(payload.size() >= 2 ? uint16_t(uint8_t(payload[0]) << 8 | uint8_t(payload[1]))
                                               : kCloseNormal,
                           "");
        case kPing:
            queue({std::make_shared<const std::string>(encodeFrame(kPong, payload)), false});
            break;
        case kPong:
            break;
        default:
            return endWith(kCloseProtocolError, "unknown opcode");
        }
    }
}

// Writes what the socket takes now; false when the connection ended.
bool ClientConnection::writeSome() {
    if (!writing_) {
        const std::lock_guard lock(mutex_);
        if (waiting_.empty())
            return true;
        writing_ = std::move(waiting_.front().bytes);
        writingSince_ = waiting_.front().since;
        waitingBytes_ -= writing_->size();
        waiting_.pop_front();
        written_ = 0;
    }
    const ssize_t sent =
        send(socket_, writing_->data() + written_, writing_->size() - written_, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (sent < 0)
        return wouldBlock();
    written_ += size_t(sent);
    if (written_ == writing_->size()) {
        const std::lock_guard lock(mutex_);
        writing_.reset();
    }
    return true;
}

} // namespace kvd::tool::panel
