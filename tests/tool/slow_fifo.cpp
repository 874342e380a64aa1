#include "tool/slow_fifo.h"

#include <stdexcept>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kvd::testing {
namespace {

constexpr auto kLongestRead = std::chrono::seconds(60);

} // namespace

SlowFifo::Pause SlowFifo::atOnce(std::chrono::milliseconds length) {
    return {[](const std::string &) { return true; }, length};
}

SlowFifo::Pause SlowFifo::afterBytes(size_t bytes, std::chrono::milliseconds length) {
    return {[bytes](const std::string &read) { return read.size() >= bytes; }, length};
}

SlowFifo::Pause SlowFifo::afterRow(uint64_t scan, std::chrono::milliseconds length) {
    const std::string row = "\n" + std::to_string(scan) + ",";
    // Each look goes over what came since the last, so a long run costs no more.
    return {[row, from = size_t(0)](const std::string &read) mutable {
                const bool found = read.find(row, from) != std::string::npos;
                from = read.size() > row.size() ? read.size() - row.size() : 0;
                return found;
            },
            length};
}

SlowFifo::SlowFifo(const std::string &path, std::vector<Pause> pauses) : pauses_(std::move(pauses)) {
    if (mkfifo(path.c_str(), 0600) != 0)
        throw std::runtime_error("cannot make the FIFO " + path);
    // Opened at once, without waiting for a writer, so that the writer's
    // open finds a reader; the size is the pipe's from here on.
    const int fifo = open(path.c_str(), O_RDONLY | O_NONBLOCK);
    if (fifo < 0)
        throw std::runtime_error("cannot open the FIFO " + path);
    fcntl(fifo, F_SETPIPE_SZ, 4096);
    thread_ = std::thread([this, fifo] { read(fifo); });
}

SlowFifo::~SlowFifo() {
    if (thread_.joinable())
        thread_.join();
}

const std::string &SlowFifo::text() {
    if (thread_.joinable())
        thread_.join();
    return text_;
}

// A FIFO read before its writer came reads as ended: only a hang-up after
// some bytes, or the time limit, ends the reading.
void SlowFifo::read(int fifo) {
    const auto until = std::chrono::steady_clock::now() + kLongestRead;
    size_t nextPause = 0;
    while (std::chrono::steady_clock::now() < until) {
        if (nextPause < pauses_.size() && pauses_[nextPause].reached(text_)) {
            std::this_thread::sleep_for(pauses_[nextPause].length);
            ++nextPause;
            continue;
        }
        pollfd ready = {fifo, POLLIN, 0};
        if (poll(&ready, 1, 100) <= 0)
            continue;
        char buffer[65536];
        const ssize_t got = ::read(fifo, buffer, sizeof buffer);
        if (got > 0)
            text_.append(buffer, size_t(got));
        else if ((ready.revents & POLLHUP) && !text_.empty())
            break;
        else if (got == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(5)); // no writer yet
    }
    close(fifo);
}

} // namespace kvd::testing
