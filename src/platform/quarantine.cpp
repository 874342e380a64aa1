#include "platform/quarantine.h"

#include <array>
#include <mutex>
#include <new>

namespace kvd::platform {
namespace {

struct Block {
    void *address = nullptr;
    size_t size = 0;
};

// A ring of the newest released blocks; the slot at `next` holds the oldest.
struct Quarantine {
    std::mutex mutex;
    std::array<Block, kQuarantineLength> blocks{};
    size_t next = 0;
};

Quarantine &theQuarantine() {
    // Never destroyed: objects may be released during the static destruction of a host.
    static auto *instance = new Quarantine;
    return *instance;
}

} // namespace

void quarantine(void *block, size_t size) noexcept {
    Block oldest;
    {
        Quarantine &ring = theQuarantine();
        std::lock_guard lock(ring.mutex);
        oldest = ring.blocks[ring.next];
        ring.blocks[ring.next] = {block, size};
        ring.next = (ring.next + 1) % kQuarantineLength;
    }
    if (oldest.address != nullptr)
        ::operator delete(oldest.address, oldest.size);
}

} // namespace kvd::platform
