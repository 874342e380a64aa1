// Run-time choice of the card backend: an installed override (the virtual
// card's control interface), the virtual cards of the environment, or the OS driver.
#include <atomic>

#include "platform/platform.h"
#include "platform/virtual/virtual_card.h"

namespace kvd::platform {
namespace {
std::atomic<const CardBackend *> g_override{nullptr};
} // namespace

void overrideCardBackend(const CardBackend *backend) { g_override.store(backend); }

const CardBackend &activeCardBackend() {
    if (const CardBackend *backend = g_override.load())
        return *backend;
    if (const CardBackend *backend = vcard::backendFromEnvironment())
        return *backend;
    return osCardBackend();
}

} // namespace kvd::platform
