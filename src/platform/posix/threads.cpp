// Suspended threads on POSIX. A pthread has no suspended state, so every
// thread starts by waiting at a gate of its own; resuming opens the gate and
// the start routine runs.
//
// Ending a thread from outside: a thread still at its gate is ended for good
// (it leaves without running its routine and keeps the exit code it was
// ended with). A thread that runs its routine cannot be ended safely:
// pthread_cancel unwinds through code that was never written for it (locks
// stay held, noexcept frames call std::terminate, and routines written for
// Windows have no cancellation points at all), and there is no other way to
// stop a thread at an arbitrary point. So terminating a running thread fails
// and the thread runs on; a caller that must stop one asks it to return,
// for example through an event.
#include <condition_variable>
#include <mutex>
#include <new>
#include <pthread.h>

#include "platform/posix/handle_table.h"
#include "platform/quarantine.h"

namespace kvd::platform {
namespace {

// The exit code of a thread that has not ended, as Windows reports it.
constexpr uint32_t kStillActive = 259;

class ThreadObject final : public Handle, public std::enable_shared_from_this<ThreadObject> {
public:
    ThreadObject(KVD4093_THREAD_ROUTINE routine, void *parameter) : routine_(routine), parameter_(parameter) {}

    // Starts the pthread, which waits at the gate; false when the OS refuses.
    bool start() {
        auto *owner = new std::shared_ptr<ThreadObject>(shared_from_this());
        if (pthread_create(&thread_, nullptr, &run, owner) == 0)
            return true;
        delete owner;
        return false;
    }

    bool resume() {
        std::lock_guard lock(mutex_);
        if (state_ == State::Suspended) {
            state_ = State::Running;
            gate_.notify_one();
        }
        return state_ != State::Terminated;
    }

    uint32_t exitCode() {
        std::lock_guard lock(mutex_);
        return exitCode_;
    }

    bool terminate(uint32_t exitCode) {
        std::lock_guard lock(mutex_);
        if (state_ == State::Running)
            return false; // see the top of this file
        if (state_ == State::Suspended) {
            state_ = State::Terminated;
            exitCode_ = exitCode;
            gate_.notify_one();
        }
        return true; // ended now, or it had ended already
    }

    // The last handle goes: a thread still at its gate can never be resumed
    // now, so it leaves at once and is joined; a running thread goes on
    // alone, as on Windows, and is detached; an ended one is joined.
    void onClose() override {
        bool running;
        {
            std::lock_guard lock(mutex_);
            if (state_ == State::Suspended) {
                state_ = State::Abandoned;
                gate_.notify_one();
            }
            running = state_ == State::Running;
        }
        if (running)
            pthread_detach(thread_);
        else
            pthread_join(thread_, nullptr);
    }

private:
    enum class State { Suspended, Running, Finished, Terminated, Abandoned };

    static void *run(void *argument) {
        // The thread shares the object with its handle, so either may go first.
        const std::unique_ptr<std::shared_ptr<ThreadObject>> owner(static_cast<std::shared_ptr<ThreadObject> *>(argument));
        ThreadObject &self = **owner;
        {
            std::unique_lock lock(self.mutex_);
            self.gate_.wait(lock, [&] { return self.state_ != State::Suspended; });
            if (self.state_ != State::Running)
                return nullptr;
        }
        const uint32_t result = self.routine_(self.parameter_);
        std::lock_guard lock(self.mutex_);
        self.state_ = State::Finished;
        self.exitCode_ = result;
        return nullptr;
    }

    KVD4093_THREAD_ROUTINE routine_;
    void *parameter_;
    pthread_t thread_{};
    std::mutex mutex_;
    std::condition_variable gate_;
    State state_ = State::Suspended;
    uint32_t exitCode_ = kStillActive;
};

} // namespace

Handle *createSuspendedThread(KVD4093_THREAD_ROUTINE routine, void *parameter) {
    if (routine == nullptr)
        return nullptr; // nothing it could ever run
    try {
        auto thread = makeQuarantined<ThreadObject>(routine, parameter);
        if (!thread->start())
            return nullptr;
        try {
            return handle_table::add(thread);
        } catch (const std::bad_alloc &) {
            thread->onClose(); // never handed out: it leaves its gate and is joined
            return nullptr;
        }
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
}

bool threadExitCode(Handle *thread, uint32_t *exitCode) {
    const auto object = handle_table::findAs<ThreadObject>(thread);
    if (!object || exitCode == nullptr)
        return false;
    *exitCode = object->exitCode();
    return true;
}

bool terminateThread(Handle *thread, uint32_t exitCode) {
    const auto object = handle_table::findAs<ThreadObject>(thread);
    return object && object->terminate(exitCode);
}

bool resumeThread(Handle *thread) {
    const auto object = handle_table::findAs<ThreadObject>(thread);
    return object && object->resume();
}

} // namespace kvd::platform
