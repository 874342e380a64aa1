// The exported file-object and disk-space functions.
#include "KVD4093.h"
#include "core/export_guard.h"
#include "host/file_objects.h"

using kvd::guarded;
namespace host = kvd::host;

extern "C" {

KVD4093_API KVD4093_HANDLE KVD4093_CALL KVD4093_CreateFileObject(KVD4093_HANDLE hDevice, const char *strFileName,
                                                                 int32_t nMode) {
    return guarded(KVD4093_INVALID_HANDLE,
                   [&] { return host::createFileObject(hDevice, strFileName, static_cast<uint32_t>(nMode)); });
}

KVD4093_API int32_t KVD4093_CALL KVD4093_WriteFile(KVD4093_HANDLE hFileObject, const void *pDataBuffer,
                                                   uint32_t nWriteSizeBytes) {
    return guarded(0, [&] { return host::writeFileObject(hFileObject, pDataBuffer, nWriteSizeBytes); });
}

KVD4093_API int32_t KVD4093_CALL KVD4093_ReadFile(KVD4093_HANDLE hFileObject, void *pDataBuffer,
                                                  uint32_t nOffsetBytes, uint32_t nReadSizeBytes) {
    return guarded(0, [&] { return host::readFileObject(hFileObject, pDataBuffer, nOffsetBytes, nReadSizeBytes); });
}

KVD4093_API uint32_t KVD4093_CALL KVD4093_GetFileLength(KVD4093_HANDLE hFileObject) {
    return guarded(0u, [&] { return host::fileObjectLength(hFileObject); });
}

KVD4093_API int32_t KVD4093_CALL KVD4093_SetFileOffset(KVD4093_HANDLE hFileObject, uint32_t nOffsetBytes) {
    return guarded(0, [&] { return host::setFileObjectOffset(hFileObject, nOffsetBytes); });
}

KVD4093_API int32_t KVD4093_CALL KVD4093_ReleaseFile(KVD4093_HANDLE hFileObject) {
    return guarded(0, [&] { return host::releaseFileObject(hFileObject); });
}

KVD4093_API int64_t KVD4093_CALL KVD4093_GetDiskFreeBytes(const char *strDirectory) {
    return guarded(int64_t{-1}, [&] { return host::diskFreeBytes(strDirectory); });
}

} // extern "C"
