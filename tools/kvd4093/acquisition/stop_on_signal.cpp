#include "acquisition/stop_on_signal.h"

#include <chrono>
#include <utility>

#include "common/system.h"

namespace kvd::tool {
namespace {

// A signal handler may only set a flag; the watching thread looks at it this
// often, which bounds the delay between the signal and the stop.
constexpr auto kSignalPoll = std::chrono::milliseconds(10);

} // namespace

StopOnSignal::StopOnSignal(std::function<void()> stop) : stop_(std::move(stop)), thread_([this] { watch(); }) {}

StopOnSignal::~StopOnSignal() {
    {
        const std::lock_guard lock(mutex_);
        finishing_ = true;
    }
    finished_.notify_one();
    thread_.join();
}

void StopOnSignal::watch() {
    std::unique_lock lock(mutex_);
    while (!finishing_) {
        if (stopSignal() != 0) {
            lock.unlock();
            stop_();
            return;
        }
        finished_.wait_for(lock, kSignalPoll);
    }
}

} // namespace kvd::tool
