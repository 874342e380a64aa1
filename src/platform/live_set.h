// The set of live objects behind opaque handles. A handle is the address of
// its object and is honoured only while it is in the set, so garbage and
// released handles are refused without being dereferenced. A lookup hands
// back a lease (a shared pointer): the object lives until the last call that
// holds it returns, even when another thread releases the handle meanwhile.
// Objects come from makeQuarantined, so a released address is not handed to
// a new object until many later releases (platform/quarantine.h).
#pragma once

#include <memory>
#include <mutex>
#include <unordered_map>

#include "platform/quarantine.h"

namespace kvd::platform {

template <class Object>
class LiveSet {
public:
    // Puts an object in the set; its address is the handle callers get.
    void *add(std::shared_ptr<Object> object) {
        void *handle = object.get();
        std::lock_guard lock(mutex_);
        objects_.emplace(handle, std::move(object));
        return handle;
    }

    // The live object behind a handle, or null.
    std::shared_ptr<Object> find(const void *handle) const {
        std::lock_guard lock(mutex_);
        const auto found = objects_.find(handle);
        return found == objects_.end() ? nullptr : found->second;
    }

    // Takes a handle out of the set: the object, or null when it was not live.
    // Only one of several threads releasing the same handle gets the object.
    std::shared_ptr<Object> remove(const void *handle) {
        std::lock_guard lock(mutex_);
        const auto found = objects_.find(handle);
        if (found == objects_.end())
            return nullptr;
        std::shared_ptr<Object> object = std::move(found->second);
        objects_.erase(found);
        return object;
    }

private:
    mutable std::mutex mutex_;
    std::unordered_map<const void *, std::shared_ptr<Object>> objects_;
};

} // namespace kvd::platform
