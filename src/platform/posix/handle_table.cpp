#include "platform/posix/handle_table.h"

#include "platform/live_set.h"

namespace kvd::platform {
namespace {

LiveSet<Handle> &table() {
    // Never destroyed: handles may be used during the static destruction of a host.
    static auto *handles = new LiveSet<Handle>;
    return *handles;
}

} // namespace

namespace handle_table {

Handle *add(std::shared_ptr<Handle> object) { return static_cast<Handle *>(table().add(std::move(object))); }

std::shared_ptr<Handle> find(const Handle *handle) { return table().find(handle); }

std::shared_ptr<Handle> remove(const Handle *handle) { return table().remove(handle); }

} // namespace handle_table

bool closeHandle(Handle *handle) {
    std::shared_ptr<Handle> object = handle_table::remove(handle);
    if (!object)
        return false;
    object->onClose();
    return true;
}

} // namespace kvd::platform
