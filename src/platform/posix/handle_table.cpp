#include "platform/posix/handle_table.h"

#include <mutex>
#include <unordered_map>

namespace kvd::platform {
namespace {

struct Table {
    std::mutex mutex;
    std::unordered_map<const Handle *, std::shared_ptr<Handle>> objects;
};

Table &table() {
    // Never destroyed: handles may be used during the static destruction of a host.
    static auto *handles = new Table;
    return *handles;
}

} // namespace

namespace handle_table {

Handle *add(std::shared_ptr<Handle> object) {
    Handle *handle = object.get();
    Table &live = table();
    std::lock_guard lock(live.mutex);
    live.objects.emplace(handle, std::move(object));
    return handle;
}

std::shared_ptr<Handle> find(const Handle *handle) {
    Table &live = table();
    std::lock_guard lock(live.mutex);
    const auto found = live.objects.find(handle);
    return found == live.objects.end() ? nullptr : found->second;
}

std::shared_ptr<Handle> remove(const Handle *handle) {
    Table &live = table();
    std::lock_guard lock(live.mutex);
    const auto found = live.objects.find(handle);
    if (found == live.objects.end())
        return nullptr;
    std::shared_ptr<Handle> object = std::move(found->second);
    live.objects.erase(found);
    return object;
}

} // namespace handle_table

bool closeHandle(Handle *handle) {
    std::shared_ptr<Handle> object = handle_table::remove(handle);
    if (!object)
        return false;
    object->onClose();
    return true;
}

} // namespace kvd::platform
