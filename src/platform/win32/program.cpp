// Starting a program or opening a document by its path.
#include <windows.h>

#include "platform/platform.h"

namespace kvd::platform {

uint32_t startProgram(const char *commandLine, uint32_t showState) {
    if (commandLine == nullptr)
        return ERROR_FILE_NOT_FOUND; // WinExec's answer for a name that finds nothing
    return WinExec(commandLine, showState);
}

} // namespace kvd::platform
