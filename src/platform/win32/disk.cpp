// The free space of a disk, as GetDiskFreeSpaceExA reports it.
#include <windows.h>

#include "platform/platform.h"

namespace kvd::platform {

int64_t diskFreeBytes(const char *directory) {
    ULARGE_INTEGER availableToCaller{}, totalBytes{}, totalFree{};
    if (!GetDiskFreeSpaceExA(directory, &availableToCaller, &totalBytes, &totalFree))
        return -1;
    // The disk's free bytes, not the share of them this user may take.
    return static_cast<int64_t>(totalFree.QuadPart);
}

} // namespace kvd::platform
