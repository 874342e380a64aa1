// Every function name the library logs failures under, for the lookups of
// KVD4093_GetLastErrorEx (`log` without names, the panel's log).
#pragma once

namespace kvd::tool {

inline constexpr const char *kLoggedNames[] = {
    "KVD4093_CreateDevice",   "KVD4093_CreateDeviceEx",     "KVD4093_ReleaseDevice",
    "KVD4093_GetDeviceCount", "KVD4093_GetDeviceCurrentID", "KVD4093_InitDeviceAD",
    "KVD4093_ReadDeviceAD",   "KVD4093_SetDeviceTrigLevel", "KVD4093_WriteDeviceDA",
    "KVD4093_SetDeviceDO",    "KVD4093_CreateFileObject",   "KVD4093_WriteFile",
    "KVD4093_ReadFile",       "KVD4093_GetFileLength",
};

} // namespace kvd::tool
