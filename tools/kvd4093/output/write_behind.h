// Writes blocks of bytes to an OutputFile on a thread of its own, one block
// behind the caller: a format makes the text of the next block while the
// last one goes to the file, so that making text and writing it share the
// time instead of adding up. A failure of the file surfaces as the file's
// own ToolError at the caller's next call.
#pragma once

#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "output/output_file.h"

namespace kvd::tool {

class WriteBehind {
public:
    explicit WriteBehind(OutputFile &file) : file_(file) {}
    // Waits for the block in flight; a failure it met is dropped (wait()
    // reports failures).
    ~WriteBehind();
    WriteBehind(const WriteBehind &) = delete;
    WriteBehind &operator=(const WriteBehind &) = delete;

    // Hands the first `size` bytes over to be written and flushed, and
    // returns a buffer for the next block: the one written before, once it
    // is written (empty the first time).
    std::vector<char> write(std::vector<char> bytes, size_t size);
    // Waits until everything handed over is written: the file is the
    // caller's again. Throws what a write threw.
    void wait();

private:
    void run();
    // With the lock held: waits until no block is in flight, then rethrows a failure.
    void waitIdle(std::unique_lock<std::mutex> &lock);

    OutputFile &file_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<char> inFlight_;
    size_t inFlightSize_ = 0;
    bool busy_ = false;
    bool ending_ = false;
    std::exception_ptr failure_;
    std::thread thread_; // started by the first write
};

} // namespace kvd::tool
