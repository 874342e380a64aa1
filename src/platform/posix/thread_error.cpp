// POSIX has no per-thread last-error code that callers set; the library
// keeps its own, one per thread, as the Windows one behaves.
#include <cstdlib>

#include "platform/platform.h"

namespace kvd::platform {
namespace {
thread_local uint32_t t_lastError = 0;
} // namespace

uint32_t lastError() { return t_lastError; }
void setLastError(uint32_t code) { t_lastError = code; }

const char *environmentVariable(const char *name) { return std::getenv(name); }

} // namespace kvd::platform
