// The calling thread's last-error code is the OS's own on Windows, so an
// application's GetLastError sees what the library set and the other way round.
#include <windows.h>

#include "platform/platform.h"

namespace kvd::platform {

uint32_t lastError() { return GetLastError(); }
void setLastError(uint32_t code) { SetLastError(code); }

} // namespace kvd::platform
