// Message boxes and the foreground window on Windows. MessageBoxA takes the
// ANSI text as it is; the OS converts it for the screen.
#include <windows.h>

#include "platform/platform.h"

namespace kvd::platform {

void osShowMessage(const char *text, const char *caption, uint32_t style) {
    MessageBoxA(nullptr, text, caption, style);
}

void *foregroundWindow() { return GetForegroundWindow(); }

} // namespace kvd::platform
