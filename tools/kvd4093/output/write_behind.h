// Writes blocks of bytes to an OutputFile on a thread of its own, behind the
// caller: a format makes the text of the next blocks while the last ones go
// to the file, so that making text and writing it share the time instead of
// adding up. A few blocks may wait, so that neither side waits for the
// other at every block. A failure of the file surfaces as the file's own
// ToolError at the caller's next call.
#pragma once

#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "output/output_file.h"

namespace kvd::tool {

// The bytes of one block, in memory that grows without being cleared first:
// pages are touched only as the text fills them.
struct ByteBlock {
    std::unique_ptr<char[]> bytes;
    size_t capacity = 0;

    // Room for at least `size` bytes (what was there may go).
    char *room(size_t size) {
        if (size > capacity) {
            bytes.reset(new char[size]);
            capacity = size;
        }
        return bytes.get();
    }
};

class WriteBehind {
public:
    explicit WriteBehind(OutputFile &file) : file_(file) {}
    // Waits for the blocks handed over; a failure they meet is dropped
    // (wait() reports failures).
    ~WriteBehind();
    WriteBehind(const WriteBehind &) = delete;
    WriteBehind &operator=(const WriteBehind &) = delete;

    // Hands the first `size` bytes over to be written as a block (written,
    // flushed, committed: output_file.h), waiting while kMostWaiting blocks
    // wait already, and returns a block for the next bytes: one written
    // before, or an empty one.
    ByteBlock write(ByteBlock bytes, size_t size);
    // Waits until everything handed over is written: the file is the
    // caller's again. Throws what a write threw.
    void wait();
    // The same, returning what a write threw instead of throwing it.
    std::exception_ptr drain();

    static constexpr size_t kMostWaiting = 3;

private:
    struct Pending {
        ByteBlock block;
        size_t size = 0;
    };
    void run();
    // With the lock held: waits until fewer than `most` blocks wait or are
    // being written, then rethrows a failure.
    void waitForRoom(std::unique_lock<std::mutex> &lock, size_t most);

    OutputFile &file_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Pending> pending_; // the first is being written
    std::vector<ByteBlock> written_;
    bool ending_ = false;
    std::exception_ptr failure_;
    std::thread thread_; // started by the first write
};

} // namespace kvd::tool
