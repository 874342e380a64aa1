// File objects: data files that callers open, write, read, size and release
// through opaque handles, and the free space of a disk.
//
// A handle is the address of a FileObject that the library keeps in a set of
// live objects; any other value (never handed out, or released already) is
// refused without being dereferenced. A failure of the file itself after the
// handle test is reported by the result where the result can say it.
#pragma once

#include <cstdint>

#include "KVD4093.h"

namespace kvd::host {

// A file for a caller that holds a live device: the new handle; 0 for a
// device that fails its test (nothing logged, even for a null name); -1 for a
// null name (logged, code 2) or a file that does not open (nothing logged).
KVD4093_HANDLE createFileObject(KVD4093_HANDLE hDevice, const char *fileName, uint32_t mode);

// Writes all bytes at the current position: 1, or 0 when the write failed.
int32_t writeFileObject(KVD4093_HANDLE hFileObject, const void *data, uint32_t size);
// Reads up to size bytes from offset (fewer at the end of the file): 1, or 0
// when the seek or read failed. The position ends behind the bytes read.
int32_t readFileObject(KVD4093_HANDLE hFileObject, void *data, uint32_t offset, uint32_t size);
// The length in bytes, cut to 32 bits; 0 when it cannot be read.
uint32_t fileObjectLength(KVD4093_HANDLE hFileObject);
// Sets the position, counted from the start: 1, or 0 when the seek failed.
int32_t setFileObjectOffset(KVD4093_HANDLE hFileObject, uint32_t offset);
// Closes the file and frees the object; the handle is dead afterwards even
// when closing failed. 1, or 0 when the close reported an error.
int32_t releaseFileObject(KVD4093_HANDLE hFileObject);

// The total free bytes of the disk holding directory; -1 when the query fails.
int64_t diskFreeBytes(const char *directory);

} // namespace kvd::host
