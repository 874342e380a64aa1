/*
 * Takes the address of every function of KVD4093.h, so that the program
 * imports all 45 exports through the import library. Run, it only checks
 * that the loader bound every one of them.
 */
#include <stdio.h>

#include "KVD4093.h"

typedef void (*Function)(void);

int main(void) {
    const Function functions[] = {
        (Function)BulkRead, (Function)BulkWrite, (Function)SetInterface, (Function)USB_Reset,
        (Function)KVD4093_ResetDevice, (Function)KVD4093_CreateLowFile, (Function)KVD4093_CloseLowFile,
        (Function)KVD4093_CreateDevice, (Function)KVD4093_CreateDeviceEx, (Function)KVD4093_ReleaseDevice,
        (Function)KVD4093_GetDeviceCount, (Function)KVD4093_GetDeviceCurrentID, (Function)KVD4093_GetDevVersion,
        (Function)KVD4093_ListDeviceDlg, (Function)KVD4093_InitDeviceAD, (Function)KVD4093_ReadDeviceAD,
        (Function)KVD4093_ReleaseDeviceAD, (Function)KVD4093_SetDeviceTrigLevel, (Function)KVD4093_WriteDeviceDA,
        (Function)KVD4093_SetDeviceDO, (Function)KVD4093_GetDeviceDI, (Function)KVD4093_GetLastErrorEx,
        (Function)KVD4093_SaveParaAD, (Function)KVD4093_LoadParaAD, (Function)KVD4093_ResetParaAD,
        (Function)KVD4093_SaveParaInt, (Function)KVD4093_LoadParaInt, (Function)KVD4093_SaveParaString,
        (Function)KVD4093_LoadParaString, (Function)KVD4093_GetAppPath, (Function)KVD4093_CreateFileObject,
        (Function)KVD4093_WriteFile, (Function)KVD4093_ReadFile, (Function)KVD4093_GetFileLength,
        (Function)KVD4093_SetFileOffset, (Function)KVD4093_ReleaseFile, (Function)KVD4093_GetDiskFreeBytes,
        (Function)KVD4093_CreateVBThread, (Function)KVD4093_TerminateVBThread, (Function)KVD4093_CreateSystemEvent,
        (Function)KVD4093_ReleaseSystemEvent, (Function)KVD4093_BrowseHelpInfo, (Function)KVD4093_kbhit,
        (Function)KVD4093_getch, (Function)KVD4093_DelayTimeUs,
    };
    const size_t count = sizeof functions / sizeof functions[0];
    size_t bound = 0, i;
    for (i = 0; i < count; ++i)
        bound += functions[i] != NULL;
    printf("%u of %u functions bound\n", (unsigned)bound, (unsigned)count);
    return bound == 45 && count == 45 ? 0 : 1;
}
