// Auto-reset events on POSIX: a flag under a mutex. Setting it releases one
// waiter, whose wait resets it; with no waiter it stays set for the next wait.
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>

#include "platform/posix/handle_table.h"
#include "platform/quarantine.h"

namespace kvd::platform {
namespace {

class EventObject final : public Handle {
public:
    void set() {
        std::lock_guard lock(mutex_);
        signalled_ = true;
        changed_.notify_one();
    }

    // true when signalled (and now reset), false when the time passed first.
    bool wait(uint32_t milliseconds) {
        std::unique_lock lock(mutex_);
        const auto isSignalled = [&] { return signalled_; };
        if (milliseconds == kWaitForever)
            changed_.wait(lock, isSignalled);
        else if (!changed_.wait_for(lock, std::chrono::milliseconds(milliseconds), isSignalled))
            return false;
        signalled_ = false;
        return true;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool signalled_ = false;
};

} // namespace

Handle *createAutoResetEvent() {
    try {
        return handle_table::add(makeQuarantined<EventObject>());
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
}

bool setEvent(Handle *event) {
    const auto object = handle_table::findAs<EventObject>(event);
    if (!object)
        return false;
    object->set();
    return true;
}

int32_t waitEvent(Handle *event, uint32_t milliseconds) {
    // The shared pointer keeps the event alive through the wait, also when
    // another thread closes the handle meanwhile (as a Windows wait holds its object).
    const auto object = handle_table::findAs<EventObject>(event);
    if (!object)
        return -1;
    return object->wait(milliseconds) ? 1 : 0;
}

} // namespace kvd::platform
