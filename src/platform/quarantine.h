// Delayed reuse of the memory behind handles. A handle is the address of its
// object, so an address handed out again soon would bring a released handle
// back to life as another object. Objects made with makeQuarantined keep their
// storage for kQuarantineLength later releases before it returns to the heap:
// until then no new object of the library can get that address, and the live
// set refuses the stale handle.
#pragma once

#include <cstddef>
#include <memory>

namespace kvd::platform {

// How many released blocks wait before the oldest goes back to the heap.
constexpr size_t kQuarantineLength = 4096;

// Takes a released block; frees the oldest waiting block when the
// quarantine is full. Safe from any thread.
void quarantine(void *block, size_t size) noexcept;

template <class T>
struct QuarantineAllocator {
    using value_type = T;
    QuarantineAllocator() = default;
    template <class U>
    QuarantineAllocator(const QuarantineAllocator<U> &) noexcept {}

    T *allocate(size_t count) { return static_cast<T *>(::operator new(count * sizeof(T))); }
    void deallocate(T *block, size_t count) noexcept { quarantine(block, count * sizeof(T)); }

    template <class U>
    bool operator==(const QuarantineAllocator<U> &) const noexcept {
        return true;
    }
};

// make_shared whose storage goes through the quarantine when the last owner lets go.
template <class T, class... Args>
std::shared_ptr<T> makeQuarantined(Args &&...args) {
    return std::allocate_shared<T>(QuarantineAllocator<T>{}, std::forward<Args>(args)...);
}

} // namespace kvd::platform
