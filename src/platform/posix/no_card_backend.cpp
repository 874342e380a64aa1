// The OS card backend on POSIX: no kernel driver for the card exists here yet,
// so the enumeration finds no card (ENODEV) and no request can be made.
#include <cerrno>

#include "platform/platform.h"

namespace kvd::platform {
namespace {

BackendFile *openNoCard(int32_t, uint32_t *status) {
    *status = ENODEV;
    return nullptr;
}
int32_t requestNoCard(BackendFile *, uint32_t, void *, uint32_t, void *, uint32_t, uint32_t *) { return 0; }
void cancelNoCard(BackendFile *) {}
bool closeNoCard(BackendFile *) { return false; }

const CardBackend kNoCardBackend{"none", &openNoCard, &requestNoCard, &cancelNoCard, &closeNoCard};

} // namespace

const CardBackend &osCardBackend() { return kNoCardBackend; }

} // namespace kvd::platform
