// The exported opening, identity and device-list functions.
#include "KVD4093.h"
#include "device/opening.h"
#include "core/messages.h"
#include "core/export_guard.h"
#include "platform/platform.h"

using kvd::guarded;
namespace device = kvd::device;

extern "C" {

KVD4093_API KVD4093_HANDLE KVD4093_CALL KVD4093_CreateDevice(int32_t nDeviceLgcID) {
    return guarded(KVD4093_INVALID_HANDLE, [&] { return device::createDevice(nDeviceLgcID); });
}

KVD4093_API KVD4093_HANDLE KVD4093_CALL KVD4093_CreateDeviceEx(int32_t nDevicePhysID) {
    return guarded(KVD4093_INVALID_HANDLE, [&] { return device::createDeviceEx(nDevicePhysID); });
}

KVD4093_API int32_t KVD4093_CALL KVD4093_ReleaseDevice(KVD4093_HANDLE hDevice) {
    return guarded(0, [&] { return device::releaseDevice(hDevice); });
}

KVD4093_API int32_t KVD4093_CALL KVD4093_GetDeviceCount(KVD4093_HANDLE hDevice) {
    return guarded(0, [&] { return device::deviceCount(hDevice); });
}

KVD4093_API int32_t KVD4093_CALL KVD4093_GetDeviceCurrentID(KVD4093_HANDLE hDevice, int32_t *pDeviceLgcID,
                                                            int32_t *pDevicePhysID) {
    return guarded(0, [&] { return device::deviceCurrentId(hDevice, pDeviceLgcID, pDevicePhysID); });
}

KVD4093_API int32_t KVD4093_CALL KVD4093_GetDevVersion(KVD4093_HANDLE hDevice, uint32_t *pulFmwVersion,
                                                       uint32_t *pulDriverVersion) {
    return guarded(0, [&] { return device::devVersion(hDevice, pulFmwVersion, pulDriverVersion); });
}

KVD4093_API int32_t KVD4093_CALL KVD4093_ListDeviceDlg(void) {
    guarded(0, [] {
        const std::string report = device::deviceListReport();
        kvd::platform::showMessage(report.c_str(), kvd::text::kListCaption, kvd::platform::kMessageIconInformation);
        return 0;
    });
    return 1;
}

} // extern "C"
