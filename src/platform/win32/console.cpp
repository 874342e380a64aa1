// Console keys through the C runtime's console functions.
#include <conio.h>

#include "platform/platform.h"

namespace kvd::platform {

int32_t keyPending() { return _kbhit(); }
int32_t readKey() { return _getch(); }

} // namespace kvd::platform
