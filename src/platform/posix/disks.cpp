// The free space of a disk on POSIX: statvfs of any path on it.
#include <sys/statvfs.h>

#include "platform/platform.h"

namespace kvd::platform {

int64_t diskFreeBytes(const char *directory) {
    struct statvfs info {};
    if (directory == nullptr || ::statvfs(directory, &info) != 0)
        return -1;
    // All free blocks, also those kept for the superuser: the disk's total
    // free bytes, not the part the caller may use.
    return static_cast<int64_t>(uint64_t(info.f_bfree) * uint64_t(info.f_frsize));
}

} // namespace kvd::platform
