// Thread and event handles on POSIX. The OS has no handles of this kind, so
// they are objects of the library, kept in a table of live handles: a handle
// is the address of its object, and only an address in the table is ever
// used, so garbage and closed handles are refused instead of dereferenced.
#pragma once

#include <memory>

#include "platform/platform.h"

namespace kvd::platform {

struct Handle {
    virtual ~Handle() = default;
    // Runs once when the caller closes the handle, after it has left the table.
    virtual void onClose() {}
};

namespace handle_table {

// Puts an object in the table; its address is the handle the caller gets.
Handle *add(std::shared_ptr<Handle> object);
// The live object behind a handle, or null. The shared pointer keeps the
// object alive while the caller uses it, even if another thread closes it.
std::shared_ptr<Handle> find(const Handle *handle);
// Takes a handle out of the table; the object, or null when it was not live.
std::shared_ptr<Handle> remove(const Handle *handle);

template <class Object>
std::shared_ptr<Object> findAs(const Handle *handle) {
    return std::dynamic_pointer_cast<Object>(find(handle));
}

} // namespace handle_table
} // namespace kvd::platform
