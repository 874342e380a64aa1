#include "output/write_behind.h"

namespace kvd::tool {

WriteBehind::~WriteBehind() {
    if (!thread_.joinable())
        return;
    {
        const std::lock_guard lock(mutex_);
        ending_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void WriteBehind::waitIdle(std::unique_lock<std::mutex> &lock) {
    changed_.wait(lock, [&] { return !busy_; });
    if (failure_)
        std::rethrow_exception(failure_);
}

std::vector<char> WriteBehind::write(std::vector<char> bytes, size_t size) {
    std::unique_lock lock(mutex_);
    waitIdle(lock);
    if (!thread_.joinable())
        thread_ = std::thread([this] { run(); });
    std::swap(inFlight_, bytes);
    inFlightSize_ = size;
    busy_ = true;
    lock.unlock();
    changed_.notify_all();
    return bytes;
}

void WriteBehind::wait() {
    std::unique_lock lock(mutex_);
    waitIdle(lock);
}

void WriteBehind::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return busy_ || ending_; });
        if (!busy_)
            return;
        lock.unlock();
        std::exception_ptr failure;
        try {
            file_.write(inFlight_.data(), inFlightSize_);
            file_.flush(); // a reader of the file or the pipe sees every block as it comes
        } catch (...) {
            failure = std::current_exception();
        }
        lock.lock();
        if (failure && !failure_)
            failure_ = failure;
        busy_ = false;
        changed_.notify_all();
    }
}

} // namespace kvd::tool
