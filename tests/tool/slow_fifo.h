// A consumer of the tool's output that falls behind on purpose: a FIFO at a
// path, read on a thread of the test's own that pauses where it is told, as
// a slow disk or a slow reader of a pipe would. The pipe holds one page, the
// least the kernel allows, so the tool's writer blocks within a few
// kilobytes of where the reading paused and its queue fills behind it.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace kvd::testing {

class SlowFifo {
public:
    struct Pause {
        std::function<bool(const std::string &read)> reached; // true once the reading got far enough
        std::chrono::milliseconds length;
    };
    // Before anything is read.
    static Pause atOnce(std::chrono::milliseconds length);
    // Once the bytes read reach `bytes`.
    static Pause afterBytes(size_t bytes, std::chrono::milliseconds length);
    // Once the CSV row of the scan has come.
    static Pause afterRow(uint64_t scan, std::chrono::milliseconds length);

    // Makes the FIFO and starts reading it; each pause is taken once, in order.
    SlowFifo(const std::string &path, std::vector<Pause> pauses);
    ~SlowFifo();
    SlowFifo(const SlowFifo &) = delete;
    SlowFifo &operator=(const SlowFifo &) = delete;

    // Everything the writer wrote, once it has closed the FIFO (at most 60 s).
    const std::string &text();

private:
    void read(int fifo);

    std::vector<Pause> pauses_;
    std::string text_;
    std::thread thread_;
};

} // namespace kvd::testing
