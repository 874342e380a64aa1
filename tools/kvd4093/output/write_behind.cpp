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

void WriteBehind::waitForRoom(std::unique_lock<std::mutex> &lock, size_t most) {
    changed_.wait(lock, [&] { return pending_.size() < most || failure_; });
    if (failure_)
        std::rethrow_exception(failure_);
}

ByteBlock WriteBehind::write(ByteBlock bytes, size_t size) {
    std::unique_lock lock(mutex_);
    waitForRoom(lock, kMostWaiting);
    if (!thread_.joinable())
        thread_ = std::thread([this] { run(); });
    pending_.push_back({std::move(bytes), size});
    ByteBlock next;
    if (!written_.empty()) {
        next = std::move(written_.back());
        written_.pop_back();
    }
    lock.unlock();
    changed_.notify_all();
    return next;
}

void WriteBehind::wait() {
    if (const std::exception_ptr failure = drain())
        std::rethrow_exception(failure);
}

std::exception_ptr WriteBehind::drain() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return pending_.empty(); });
    return failure_;
}

void WriteBehind::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return !pending_.empty() || ending_; });
        if (pending_.empty())
            return;
        const Pending &pending = pending_.front();
        lock.unlock();
        std::exception_ptr failure;
        try {
            file_.write(pending.block.bytes.get(), pending.size);
            file_.flush(); // a reader of the file or the pipe sees every block as it comes
            file_.commit();
        } catch (...) {
            failure = std::current_exception();
        }
        lock.lock();
        if (failure && !failure_)
            failure_ = failure;
        written_.push_back(std::move(pending_.front().block));
        pending_.pop_front();
        if (failure_)
            pending_.clear(); // nothing after a failure reaches the file
        changed_.notify_all();
    }
}

} // namespace kvd::tool
