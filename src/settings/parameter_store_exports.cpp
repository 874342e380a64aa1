// The exported parameter store functions.
#include "KVD4093.h"
#include "settings/parameter_store.h"
#include "core/export_guard.h"

using kvd::guarded;
namespace settings = kvd::settings;

extern "C" {

KVD4093_API int32_t KVD4093_CALL KVD4093_SaveParaAD(KVD4093_HANDLE hDevice, const ADPara *pPara) {
    return guarded(0, [&] { return settings::saveParaAD(hDevice, pPara); });
}

KVD4093_API int32_t KVD4093_CALL KVD4093_LoadParaAD(KVD4093_HANDLE hDevice, ADPara *pPara) {
    return guarded(1, [&] { return settings::loadParaAD(hDevice, pPara); });
}

KVD4093_API int32_t KVD4093_CALL KVD4093_ResetParaAD(KVD4093_HANDLE hDevice, ADPara *pPara) {
    return guarded(1, [&] { return settings::resetParaAD(hDevice, pPara); });
}

KVD4093_API int32_t KVD4093_CALL KVD4093_SaveParaInt(KVD4093_HANDLE hDevice, const char *strParaName,
                                                     int32_t nParaValue) {
    return guarded(0, [&] { return settings::saveParaInt(hDevice, strParaName, nParaValue); });
}

KVD4093_API int32_t KVD4093_CALL KVD4093_LoadParaInt(KVD4093_HANDLE hDevice, const char *strParaName,
                                                     int32_t nDefaultValue) {
    return guarded(nDefaultValue, [&] { return settings::loadParaInt(hDevice, strParaName, nDefaultValue); });
}

KVD4093_API int32_t KVD4093_CALL KVD4093_SaveParaString(KVD4093_HANDLE hDevice, const char *strParaName,
                                                        const char *strParaValue) {
    return guarded(0, [&] { return settings::saveParaString(hDevice, strParaName, strParaValue); });
}

KVD4093_API int32_t KVD4093_CALL KVD4093_LoadParaString(KVD4093_HANDLE hDevice, const char *strParaName,
                                                        char *strParaValue, const char *strDefaultValue) {
    return guarded(1, [&] { return settings::loadParaString(hDevice, strParaName, strParaValue, strDefaultValue); });
}

KVD4093_API int32_t KVD4093_CALL KVD4093_GetAppPath(char *strAppPath, int32_t nAppPathSize) {
    return guarded(1, [&] { return settings::appPath(strAppPath, nAppPathSize); });
}

} // extern "C"
