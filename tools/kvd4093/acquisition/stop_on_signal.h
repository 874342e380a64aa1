// A stop signal (Ctrl-C, SIGTERM: system.h) ends an acquisition at once, even
// while the main thread waits in a read that may last seconds at a low rate:
// a handler may only set a flag, so a thread of its own watches the flag and
// calls the stop (acquire's KVD4093_StopStream) once.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace kvd::tool {

class StopOnSignal {
public:
    explicit StopOnSignal(std::function<void()> stop);
    ~StopOnSignal();
    StopOnSignal(const StopOnSignal &) = delete;
    StopOnSignal &operator=(const StopOnSignal &) = delete;

private:
    void watch();

    std::function<void()> stop_;
    std::mutex mutex_;
    std::condition_variable finished_;
    bool finishing_ = false;
    std::thread thread_;
};

} // namespace kvd::tool
