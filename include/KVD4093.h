/*
 * KVD4093.h - programming interface of the KVD4093 USB data-acquisition card.
 *
 * One card offers a multi-channel 16-bit AD converter with trigger, DA outputs,
 * 16 digital inputs and 16 digital outputs. Open a card with
 * KVD4093_CreateDevice (logical number) or KVD4093_CreateDeviceEx (physical ID),
 * start an acquisition with KVD4093_InitDeviceAD, read sample blocks with
 * KVD4093_ReadDeviceAD, stop with KVD4093_ReleaseDeviceAD and close the card
 * with KVD4093_ReleaseDevice.
 *
 * Most functions return 1 for success and 0 for failure; the calls that hand
 * out handles return KVD4093_INVALID_HANDLE (-1) on failure. Texts are 8-bit
 * ANSI strings in code page 936 (GBK). Failures are recorded in an error log:
 * KVD4093_GetLastErrorEx returns the newest message logged for a function.
 *
 * Usable from C and C++. On 32-bit Windows every function is __stdcall.
 */
#ifndef KVD4093_H
#define KVD4093_H

#include <stdint.h>

/* ---- export macro block ------------------------------------------------- */
#if defined(_WIN32)
/* The DLL's export table (KVD4093.def) names every export; a dllexport here
   would add an undecorated twin beside each decorated name. */
#  if defined(KVD4093_BUILDING_LIBRARY) || defined(KVD4093_STATIC)
#    define KVD4093_API
#  else
#    define KVD4093_API __declspec(dllimport)
#  endif
#  if defined(_WIN64)
#    define KVD4093_CALL
#  else
#    define KVD4093_CALL __stdcall
#  endif
#else
#  if defined(KVD4093_BUILDING_LIBRARY) && defined(__GNUC__)
#    define KVD4093_API __attribute__((visibility("default")))
#  else
#    define KVD4093_API
#  endif
#  define KVD4093_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* An opaque, pointer-sized handle: a device, a file object, a thread or an event. */
typedef void *KVD4093_HANDLE;

/* The value every handle-returning call gives on failure (all bits set). */
#define KVD4093_INVALID_HANDLE ((KVD4093_HANDLE)(intptr_t)-1)

/* Bulk pipes of the card. */
#define KVD4093_PIPE_AD_COMMAND 0u /* AD range, configuration, start and stop */
#define KVD4093_PIPE_COMMAND    1u /* open packet, DA, digital outputs, trigger level */
#define KVD4093_PIPE_AD_DATA    2u /* AD samples, 16 bits each */
#define KVD4093_PIPE_STATUS     3u /* the 512-byte status packet */

/* The AD parameter record: 17 signed 32-bit fields, 68 bytes, in this order. */
typedef struct ADPara {
    int32_t CheckStsMode;  /* status-check mode code (8 bits reach the card) */
    int32_t ADMode;        /* acquisition mode (1 bit) */
    int32_t FirstChannel;  /* first channel of the scan (8 bits) */
    int32_t LastChannel;   /* last channel of the scan (8 bits) */
    int32_t Frequency;     /* sampling rate in Hz, 1 to 10 000 000 */
    int32_t InputRange;    /* input range code (2 bits) */
    int32_t GroupInterval; /* group interval in microseconds */
    int32_t LoopsOfGroup;  /* loops of a group (16 bits) */
    int32_t Gains;         /* gain code (2 bits) */
    int32_t TriggerMode;   /* trigger mode code (2 bits) */
    int32_t TriggerSource; /* trigger source (1 bit) */
    int32_t TriggerType;   /* trigger type (1 bit) */
    int32_t TriggerDir;    /* trigger direction code (2 bits) */
    int32_t TrigWindow;    /* trigger window (8 bits) */
    int32_t GroundingMode; /* grounding mode (1 bit) */
    int32_t ClockSource;   /* sampling clock source (1 bit) */
    int32_t bClockOutput;  /* clock output on or off (1 bit) */
} ADPara, *PADPara;

#if defined(__cplusplus)
static_assert(sizeof(ADPara) == 68, "ADPara is 17 packed 32-bit fields");
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
_Static_assert(sizeof(ADPara) == 68, "ADPara is 17 packed 32-bit fields");
#else
typedef char KVD4093_ADPara_size_check[(sizeof(ADPara) == 68) ? 1 : -1];
#endif

/* The start routine of a thread made by KVD4093_CreateVBThread. */
typedef uint32_t (KVD4093_CALL *KVD4093_THREAD_ROUTINE)(void *pParameter);

/* ---- transport ------------------------------------------------------------ */
KVD4093_API int32_t KVD4093_CALL BulkRead(KVD4093_HANDLE hDevice, uint32_t nPipeNum, void *pBuffer,
                                          uint32_t nBufferSize, uint32_t *pBytesReturned);
KVD4093_API int32_t KVD4093_CALL BulkWrite(KVD4093_HANDLE hDevice, uint32_t nPipeNum, void *pBuffer,
                                           uint32_t nBufferSize, uint32_t *pBytesReturned);
KVD4093_API int32_t KVD4093_CALL SetInterface(KVD4093_HANDLE hDevice, uint32_t nInterfaceSetting);
KVD4093_API int32_t KVD4093_CALL USB_Reset(KVD4093_HANDLE hDevice);
KVD4093_API int32_t KVD4093_CALL KVD4093_ResetDevice(KVD4093_HANDLE hDevice);
KVD4093_API int32_t KVD4093_CALL KVD4093_CreateLowFile(KVD4093_HANDLE hDevice);
KVD4093_API int32_t KVD4093_CALL KVD4093_CloseLowFile(KVD4093_HANDLE hDevice);

/* ---- opening and identity ------------------------------------------------- */
KVD4093_API KVD4093_HANDLE KVD4093_CALL KVD4093_CreateDevice(int32_t nDeviceLgcID);
KVD4093_API KVD4093_HANDLE KVD4093_CALL KVD4093_CreateDeviceEx(int32_t nDevicePhysID);
KVD4093_API int32_t KVD4093_CALL KVD4093_ReleaseDevice(KVD4093_HANDLE hDevice);
KVD4093_API int32_t KVD4093_CALL KVD4093_GetDeviceCount(KVD4093_HANDLE hDevice);
KVD4093_API int32_t KVD4093_CALL KVD4093_GetDeviceCurrentID(KVD4093_HANDLE hDevice, int32_t *pDeviceLgcID,
                                                            int32_t *pDevicePhysID);
KVD4093_API int32_t KVD4093_CALL KVD4093_GetDevVersion(KVD4093_HANDLE hDevice, uint32_t *pulFmwVersion,
                                                       uint32_t *pulDriverVersion);
KVD4093_API int32_t KVD4093_CALL KVD4093_ListDeviceDlg(void);

/* ---- AD acquisition --------------------------------------------------------- */
KVD4093_API int32_t KVD4093_CALL KVD4093_InitDeviceAD(KVD4093_HANDLE hDevice, const ADPara *pPara);
KVD4093_API int32_t KVD4093_CALL KVD4093_ReadDeviceAD(KVD4093_HANDLE hDevice, uint16_t *pSampleBuffer,
                                                      uint32_t nSampleCount, uint32_t *pSamplesRead);
KVD4093_API int32_t KVD4093_CALL KVD4093_ReleaseDeviceAD(KVD4093_HANDLE hDevice);
KVD4093_API int32_t KVD4093_CALL KVD4093_SetDeviceTrigLevel(KVD4093_HANDLE hDevice, int32_t nTrigLevel);

/* ---- DA output and digital I/O ------------------------------------------------ */
KVD4093_API int32_t KVD4093_CALL KVD4093_WriteDeviceDA(KVD4093_HANDLE hDevice, int32_t nSetupCode,
                                                       int32_t nDAValue, int32_t nChannel);
KVD4093_API int32_t KVD4093_CALL KVD4093_SetDeviceDO(KVD4093_HANDLE hDevice, const uint8_t *pDOStates);
KVD4093_API int32_t KVD4093_CALL KVD4093_GetDeviceDI(KVD4093_HANDLE hDevice, uint8_t *pDIStates);

/* ---- error log ------------------------------------------------------------------ */
KVD4093_API uint32_t KVD4093_CALL KVD4093_GetLastErrorEx(const char *strFuncName, char *strErrorMsg);

/* ---- parameter store ------------------------------------------------------------ */
KVD4093_API int32_t KVD4093_CALL KVD4093_SaveParaAD(KVD4093_HANDLE hDevice, const ADPara *pPara);
KVD4093_API int32_t KVD4093_CALL KVD4093_LoadParaAD(KVD4093_HANDLE hDevice, ADPara *pPara);
KVD4093_API int32_t KVD4093_CALL KVD4093_ResetParaAD(KVD4093_HANDLE hDevice, ADPara *pPara);
KVD4093_API int32_t KVD4093_CALL KVD4093_SaveParaInt(KVD4093_HANDLE hDevice, const char *strParaName,
                                                     int32_t nParaValue);
KVD4093_API int32_t KVD4093_CALL KVD4093_LoadParaInt(KVD4093_HANDLE hDevice, const char *strParaName,
                                                     int32_t nDefaultValue);
KVD4093_API int32_t KVD4093_CALL KVD4093_SaveParaString(KVD4093_HANDLE hDevice, const char *strParaName,
                                                        const char *strParaValue);
KVD4093_API int32_t KVD4093_CALL KVD4093_LoadParaString(KVD4093_HANDLE hDevice, const char *strParaName,
                                                        char *strParaValue, const char *strDefaultValue);
KVD4093_API int32_t KVD4093_CALL KVD4093_GetAppPath(char *strAppPath, int32_t nAppPathSize);

/* ---- file objects and disk space ------------------------------------------------ */
KVD4093_API KVD4093_HANDLE KVD4093_CALL KVD4093_CreateFileObject(KVD4093_HANDLE hDevice, const char *strFileName,
                                                                 int32_t nMode);
KVD4093_API int32_t KVD4093_CALL KVD4093_WriteFile(KVD4093_HANDLE hFileObject, const void *pDataBuffer,
                                                   uint32_t nWriteSizeBytes);
KVD4093_API int32_t KVD4093_CALL KVD4093_ReadFile(KVD4093_HANDLE hFileObject, void *pDataBuffer,
                                                  uint32_t nOffsetBytes, uint32_t nReadSizeBytes);
KVD4093_API uint32_t KVD4093_CALL KVD4093_GetFileLength(KVD4093_HANDLE hFileObject);
KVD4093_API int32_t KVD4093_CALL KVD4093_SetFileOffset(KVD4093_HANDLE hFileObject, uint32_t nOffsetBytes);
KVD4093_API int32_t KVD4093_CALL KVD4093_ReleaseFile(KVD4093_HANDLE hFileObject);
KVD4093_API int64_t KVD4093_CALL KVD4093_GetDiskFreeBytes(const char *strDirectory);

/* ---- host utilities --------------------------------------------------------------- */
KVD4093_API int32_t KVD4093_CALL KVD4093_CreateVBThread(KVD4093_HANDLE *phThread,
                                                        KVD4093_THREAD_ROUTINE pThreadRoutine);
KVD4093_API int32_t KVD4093_CALL KVD4093_TerminateVBThread(KVD4093_HANDLE hThread);
KVD4093_API KVD4093_HANDLE KVD4093_CALL KVD4093_CreateSystemEvent(void);
KVD4093_API int32_t KVD4093_CALL KVD4093_ReleaseSystemEvent(KVD4093_HANDLE hEvent);
KVD4093_API int32_t KVD4093_CALL KVD4093_BrowseHelpInfo(int32_t nReserved);
KVD4093_API int32_t KVD4093_CALL KVD4093_kbhit(void);
KVD4093_API int32_t KVD4093_CALL KVD4093_getch(void);
KVD4093_API int32_t KVD4093_CALL KVD4093_DelayTimeUs(KVD4093_HANDLE hDevice, int32_t nTimeUs);

#ifdef __cplusplus
}
#endif

#endif /* KVD4093_H */
