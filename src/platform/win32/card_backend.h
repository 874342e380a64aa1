// What the Windows card backend offers beyond the card backend contract:
// a driver file record around a file handle opened elsewhere, so that tests
// can make requests on files that are no card's driver.
#pragma once

#include "platform/platform.h"

namespace kvd::platform {

// Takes over the handle: the backend's close() closes it. nullptr when no
// memory is left (the handle is then still the caller's).
BackendFile *adoptDriverFile(void *handle);

} // namespace kvd::platform
