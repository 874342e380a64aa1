// The exported transport functions: thin wrappers over the driver requests.
#include "KVD4093.h"
#include "device/transport.h"
#include "core/export_guard.h"

using kvd::guarded;
namespace device = kvd::device;

extern "C" {

KVD4093_API int32_t KVD4093_CALL BulkRead(KVD4093_HANDLE hDevice, uint32_t nPipeNum, void *pBuffer,
                                          uint32_t nBufferSize, uint32_t *pBytesReturned) {
    return guarded(0, [&] { return device::bulkRead(hDevice, nPipeNum, pBuffer, nBufferSize, pBytesReturned); });
}

KVD4093_API int32_t KVD4093_CALL BulkWrite(KVD4093_HANDLE hDevice, uint32_t nPipeNum, void *pBuffer,
                                           uint32_t nBufferSize, uint32_t *pBytesReturned) {
    return guarded(0, [&] { return device::bulkWrite(hDevice, nPipeNum, pBuffer, nBufferSize, pBytesReturned); });
}

KVD4093_API int32_t KVD4093_CALL SetInterface(KVD4093_HANDLE hDevice, uint32_t nInterfaceSetting) {
    return guarded(0, [&] { return device::setInterface(hDevice, nInterfaceSetting); });
}

KVD4093_API int32_t KVD4093_CALL USB_Reset(KVD4093_HANDLE hDevice) {
    return guarded(0, [&] { return device::usbReset(hDevice); });
}

KVD4093_API int32_t KVD4093_CALL KVD4093_ResetDevice(KVD4093_HANDLE hDevice) {
    return USB_Reset(hDevice);
}

KVD4093_API int32_t KVD4093_CALL KVD4093_CreateLowFile(KVD4093_HANDLE hDevice) {
    return guarded(0, [&] { return device::createLowFile(hDevice); });
}

KVD4093_API int32_t KVD4093_CALL KVD4093_CloseLowFile(KVD4093_HANDLE hDevice) {
    return guarded(0, [&] { return device::closeLowFile(hDevice); });
}

} // extern "C"
