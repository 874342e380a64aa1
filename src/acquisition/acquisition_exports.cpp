// The exported AD, DA and digital I/O functions.
#include "KVD4093.h"
#include "acquisition/ad_control.h"
#include "acquisition/digital_analog_io.h"
#include "core/export_guard.h"

using kvd::guarded;
namespace acquisition = kvd::acquisition;

extern "C" {

KVD4093_API int32_t KVD4093_CALL KVD4093_InitDeviceAD(KVD4093_HANDLE hDevice, const ADPara *pPara) {
    return guarded(0, [&] { return acquisition::initDeviceAD(hDevice, pPara); });
}

KVD4093_API int32_t KVD4093_CALL KVD4093_ReadDeviceAD(KVD4093_HANDLE hDevice, uint16_t *pSampleBuffer,
                                                      uint32_t nSampleCount, uint32_t *pSamplesRead) {
    return guarded(0, [&] { return acquisition::readDeviceAD(hDevice, pSampleBuffer, nSampleCount, pSamplesRead); });
}

KVD4093_API int32_t KVD4093_CALL KVD4093_ReleaseDeviceAD(KVD4093_HANDLE hDevice) {
    return guarded(0, [&] { return acquisition::releaseDeviceAD(hDevice); });
}

KVD4093_API int32_t KVD4093_CALL KVD4093_SetDeviceTrigLevel(KVD4093_HANDLE hDevice, int32_t nTrigLevel) {
    return guarded(0, [&] { return acquisition::setDeviceTrigLevel(hDevice, nTrigLevel); });
}

KVD4093_API int32_t KVD4093_CALL KVD4093_WriteDeviceDA(KVD4093_HANDLE hDevice, int32_t nSetupCode, int32_t nDAValue,
                                                       int32_t nChannel) {
    return guarded(0, [&] { return acquisition::writeDeviceDA(hDevice, nSetupCode, nDAValue, nChannel); });
}

KVD4093_API int32_t KVD4093_CALL KVD4093_SetDeviceDO(KVD4093_HANDLE hDevice, const uint8_t *pDOStates) {
    return guarded(0, [&] { return acquisition::setDeviceDO(hDevice, pDOStates); });
}

KVD4093_API int32_t KVD4093_CALL KVD4093_GetDeviceDI(KVD4093_HANDLE hDevice, uint8_t *pDIStates) {
    return guarded(0, [&] { return acquisition::getDeviceDI(hDevice, pDIStates); });
}

} // extern "C"
