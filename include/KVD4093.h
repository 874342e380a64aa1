/**
 * \file KVD4093.h
 * \brief Programming interface of the KVD4093 USB data-acquisition card.
 *
 * One card offers a multi-channel 16-bit AD converter with trigger, DA outputs,
 * 16 digital inputs and 16 digital outputs. Open a card with
 * KVD4093_CreateDevice() (logical number) or KVD4093_CreateDeviceEx() (physical
 * ID), start an acquisition with KVD4093_InitDeviceAD(), read sample blocks with
 * KVD4093_ReadDeviceAD(), stop with KVD4093_ReleaseDeviceAD() and close the card
 * with KVD4093_ReleaseDevice(). \ref getting-started walks through it.
 *
 * Results. Most functions return 1 for success and 0 for failure; the calls
 * that hand out handles return #KVD4093_INVALID_HANDLE (-1) on failure, with
 * three exceptions that return a null handle: KVD4093_CreateDevice() when the
 * card does not take its open packet, KVD4093_CreateFileObject() for a bad
 * device handle and KVD4093_CreateSystemEvent(). A few return a value of their
 * own (a count, a length, a key code, a 64-bit byte count).
 *
 * The error log. Most failures past the handle test append one entry (time,
 * function name, message, code) to the library's error log and make the code
 * (1 or 2) the calling thread's last-error code. KVD4093_GetLastErrorEx()
 * returns the newest message logged under a function name; the whole log is
 * written to `KVD4093Err.log` in the current directory when the library
 * unloads. Each function below names the entries it leaves; \ref troubleshooting
 * lists every message with its English rendering, its usual cause and what to
 * do. An invalid handle, a failed transport call and the failures marked "not
 * logged" are reported by the result alone.
 *
 * Texts are zero-terminated 8-bit ANSI strings in code page 936 (GBK), in both
 * directions, byte for byte.
 *
 * Threads. Every call runs synchronously on its caller's thread; the library
 * starts no thread of its own. Each call on a device handle holds the card's
 * record for its own duration, and the error log and settings are serialised
 * inside the library, so calls from several threads never corrupt the library.
 * The card's command stream is the caller's to keep apart: two threads driving
 * the same card interleave their packets. The one cross-thread use designed in
 * is KVD4093_ReleaseDeviceAD() on one thread while another waits in
 * KVD4093_ReadDeviceAD(). \ref threads has the rules.
 *
 * Usable from C and C++. On 32-bit Windows every function is __stdcall; ten of
 * them are exported from the DLL under their decorated names (the notes below
 * name them), which the import library maps to the names declared here.
 */
#ifndef KVD4093_H
#define KVD4093_H

#include <stdint.h>

/**
 * \def KVD4093_API
 * \brief Marks a function of the library's exported interface: imported from
 * the DLL on Windows (unless `KVD4093_STATIC` is defined), default visibility
 * in `libkvd4093.so`.
 *
 * \def KVD4093_CALL
 * \brief The calling convention of every exported function: `__stdcall` on
 * 32-bit Windows (the callee removes its arguments), the platform's default
 * elsewhere.
 */

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

/**
 * \brief An opaque, pointer-sized handle: a device, a file object, a thread or
 * an event.
 *
 * A device handle is valid from a successful KVD4093_CreateDevice() or
 * KVD4093_CreateDeviceEx() until KVD4093_ReleaseDevice(); a file handle from
 * KVD4093_CreateFileObject() until KVD4093_ReleaseFile(). Null and
 * #KVD4093_INVALID_HANDLE are never valid. The library keeps the set of live
 * device and file records: a handle it did not hand out, or has taken back, is
 * refused with the function's failure value and never dereferenced. A released
 * handle's address is not given to a new object of the same kind until at
 * least 4096 more of them have been released, so a stale handle stays refused
 * that long. Nothing is released at unload that the caller did not release.
 */
typedef void *KVD4093_HANDLE;

/** \brief The value every handle-returning call gives on failure (all bits set). */
#define KVD4093_INVALID_HANDLE ((KVD4093_HANDLE)(intptr_t)-1)

/** \brief Bulk pipe 0, to the card: AD range, configuration, start and stop packets. */
#define KVD4093_PIPE_AD_COMMAND 0u /* AD range, configuration, start and stop */
/** \brief Bulk pipe 1, to the card: the open packet, DA, digital outputs, trigger level. */
#define KVD4093_PIPE_COMMAND    1u /* open packet, DA, digital outputs, trigger level */
/** \brief Bulk pipe 2, from the card: AD samples, 16 bits each, least significant byte first. */
#define KVD4093_PIPE_AD_DATA    2u /* AD samples, 16 bits each */
/** \brief Bulk pipe 3, from the card: the 512-byte status packet (digital inputs in bytes 0
 *  and 1, physical ID in byte 17, version in bytes 18 to 20). */
#define KVD4093_PIPE_STATUS     3u /* the 512-byte status packet */

/**
 * \brief The AD parameter record: 17 signed 32-bit fields, 68 bytes, in this order.
 *
 * An application fills it itself or has KVD4093_LoadParaAD() fill it, and hands
 * it to KVD4093_InitDeviceAD(). The library checks no field and rejects no
 * value: each field is narrowed to the bits that reach the card, and higher
 * bits are dropped without a word. The codes' meanings inside the card are the
 * card's; the library gives them no names.
 *
 * | Field | Default | Reaches the card as | Values that reach the card |
 * |---|---|---|---|
 * | `CheckStsMode` | 0 | configuration byte 16, low 8 bits | 0 to 255 |
 * | `ADMode` | 0 | configuration byte 3, bit 0 | 0 or 1 |
 * | `FirstChannel` | 0 | configuration byte 1, low 8 bits | 0 to 255 |
 * | `LastChannel` | 1 | configuration byte 2, low 8 bits | 0 to 255 |
 * | `Frequency` | 25000 | bytes 5 to 8: period divider trunc(10 000 000 / Frequency), 32 bits | 1 to 10 000 000 Hz; above gives divider 0; 0 or below sends divider 0 |
 * | `InputRange` | 0 | range word bits 11 and 12 | 0 to 3 |
 * | `GroupInterval` | 1000 | bytes 9 to 12: trunc(GroupInterval x 10) ticks of 100 ns, 32 bits | 0 to 429 496 729 us; beyond, the low 32 bits of the tick count |
 * | `LoopsOfGroup` | 1 | bytes 13 and 14, low 16 bits | 0 to 65535 |
 * | `Gains` | 0 | byte 15, bits 0 and 1 | 0 to 3 |
 * | `TriggerMode` | 0 | byte 3, bits 1 and 2 | 0 to 3 |
 * | `TriggerSource` | 0 | byte 4, bit 0 | 0 or 1 |
 * | `TriggerType` | 0 | byte 3, bit 3 | 0 or 1 |
 * | `TriggerDir` | 0 | byte 3, bits 4 and 5 | 0 to 3 |
 * | `TrigWindow` | 10 | byte 17, low 8 bits | 0 to 255 |
 * | `GroundingMode` | 0 | range word bit 0 | 0 or 1 |
 * | `ClockSource` | 0 | byte 3, bit 6 | 0 or 1 |
 * | `bClockOutput` | 0 | byte 3, bit 7 | 0 or 1 |
 *
 * "Configuration byte n" is byte n of the 512-byte configuration packet that
 * KVD4093_InitDeviceAD() sends on pipe 0; the range word is
 * `0xA000 + (InputRange & 3) * 0x800 + (GroundingMode & 1)`. The default is
 * what KVD4093_LoadParaAD() and KVD4093_ResetParaAD() store when no value is
 * saved. Examples of narrowing: `FirstChannel` 256 reaches the card as 0,
 * `LoopsOfGroup` 65536 as 0, `InputRange` 5 as 1, `TriggerDir` 6 as 2; a
 * negative `GroupInterval` is sent as the two's complement of its tick count.
 *
 * The trigger level is not part of the record: KVD4093_SetDeviceTrigLevel()
 * sets it. The record crosses the library boundary by pointer; no call keeps
 * the pointer after it returns. Each field's name is also the name of the
 * value under which \ref settings "the parameter store" keeps it.
 */
typedef struct ADPara {
    int32_t CheckStsMode;  /**< Status-check mode code; 8 bits reach the card (configuration byte 16). */
    int32_t ADMode;        /**< Acquisition mode; 1 bit (byte 3, bit 0). */
    int32_t FirstChannel;  /**< First channel of the scan; 8 bits (byte 1). Scans run FirstChannel to LastChannel. */
    int32_t LastChannel;   /**< Last channel of the scan; 8 bits (byte 2). Default 1. */
    int32_t Frequency;     /**< Sampling rate in Hz of all channels together, 1 to 10 000 000; the card gets
                                the divider trunc(10 MHz / Frequency), so it runs at 10 MHz / divider. Default 25000. */
    int32_t InputRange;    /**< Input range code; 2 bits (range word bits 11 and 12). */
    int32_t GroupInterval; /**< Group interval in microseconds; sent as trunc(x 10) ticks of 100 ns. Default 1000. */
    int32_t LoopsOfGroup;  /**< Loops of a group; 16 bits (bytes 13 and 14). Default 1. */
    int32_t Gains;         /**< Gain code; 2 bits (byte 15). */
    int32_t TriggerMode;   /**< Trigger mode code; 2 bits (byte 3, bits 1 and 2). */
    int32_t TriggerSource; /**< Trigger source; 1 bit (byte 4). */
    int32_t TriggerType;   /**< Trigger type; 1 bit (byte 3, bit 3). */
    int32_t TriggerDir;    /**< Trigger direction code; 2 bits (byte 3, bits 4 and 5). */
    int32_t TrigWindow;    /**< Trigger window; 8 bits (byte 17). Default 10. */
    int32_t GroundingMode; /**< Grounding mode; 1 bit (range word bit 0). */
    int32_t ClockSource;   /**< Sampling clock source; 1 bit (byte 3, bit 6). */
    int32_t bClockOutput;  /**< Clock output on (1) or off (0); 1 bit (byte 3, bit 7). */
} ADPara, *PADPara;

/** \typedef PADPara
 *  \brief Pointer to an ::ADPara record. */

#if defined(__cplusplus)
static_assert(sizeof(ADPara) == 68, "ADPara is 17 packed 32-bit fields");
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
_Static_assert(sizeof(ADPara) == 68, "ADPara is 17 packed 32-bit fields");
#else
typedef char KVD4093_ADPara_size_check[(sizeof(ADPara) == 68) ? 1 : -1];
#endif

/**
 * \brief The start routine of a thread made by KVD4093_CreateVBThread().
 *
 * It has the form of a Windows thread routine: one pointer-sized parameter (the
 * library passes NULL), a 32-bit result that becomes the thread's exit code,
 * and the #KVD4093_CALL convention.
 */
typedef uint32_t (KVD4093_CALL *KVD4093_THREAD_ROUTINE)(void *pParameter);

/* ---- transport ------------------------------------------------------------ */

/**
 * \name Transport
 * Raw driver requests on an open card. None of them writes an error-log entry,
 * checks a pipe number or a length, or retries; each is one request to the
 * card's driver, synchronous on the caller's thread.
 * @{
 */

/**
 * \brief Reads from a bulk pipe of the card: one driver bulk-read request.
 *
 * Exported from the DLL as `_BulkRead@20`.
 *
 * \param hDevice        A live device handle.
 * \param nPipeNum       The pipe to read (#KVD4093_PIPE_AD_DATA, #KVD4093_PIPE_STATUS; any number
 *                       goes to the driver unchanged).
 * \param pBuffer        The caller's buffer of at least \p nBufferSize bytes, filled by the driver.
 * \param nBufferSize    Bytes to read. Status packets are read whole: 512.
 * \param pBytesReturned Receives the number of bytes the driver placed in the buffer. Must point to
 *                       writable storage.
 * \return 1 when the driver completed the request (also when it delivered fewer bytes than asked:
 *         compare \p *pBytesReturned); 0 for a dead handle (no request is made) or a failed request.
 *         Not logged.
 * \par Threads
 * Blocks until the driver completes the request. No lock is taken around the card: requests of
 * several threads on one card reach the driver as they come.
 */
KVD4093_API int32_t KVD4093_CALL BulkRead(KVD4093_HANDLE hDevice, uint32_t nPipeNum, void *pBuffer,
                                          uint32_t nBufferSize, uint32_t *pBytesReturned);

/**
 * \brief Writes to a bulk pipe of the card: one driver bulk-write request.
 *
 * Exported from the DLL as `_BulkWrite@20`. Command packets are 512 bytes with the command code in
 * byte 0; the library's own calls build them, so this is needed only for what the library does not
 * offer.
 *
 * \param hDevice        A live device handle.
 * \param nPipeNum       The pipe to write (#KVD4093_PIPE_AD_COMMAND, #KVD4093_PIPE_COMMAND; any
 *                       number goes to the driver unchanged).
 * \param pBuffer        The bytes to send; only read.
 * \param nBufferSize    Bytes to send.
 * \param pBytesReturned Receives the number of bytes the driver reports as sent. Must point to
 *                       writable storage.
 * \return 1 when the driver completed the request; 0 for a dead handle (no request is made) or a
 *         failed request. Not logged.
 * \par Threads
 * As BulkRead().
 */
KVD4093_API int32_t KVD4093_CALL BulkWrite(KVD4093_HANDLE hDevice, uint32_t nPipeNum, void *pBuffer,
                                           uint32_t nBufferSize, uint32_t *pBytesReturned);

/**
 * \brief Selects a USB interface setting of the card.
 *
 * Exported from the DLL as `_SetInterface@8`. KVD4093_CreateDeviceEx() uses it with 0x0100.
 *
 * \param hDevice           A live device handle.
 * \param nInterfaceSetting A 32-bit value of which the two low bytes are sent, least significant
 *                          first (0x0100 sends 0x00, 0x01); the upper two never reach the driver.
 * \return 1 when the driver completed the request; 0 for a dead handle or a failed request. Not
 *         logged.
 * \par Threads
 * As BulkRead().
 */
KVD4093_API int32_t KVD4093_CALL SetInterface(KVD4093_HANDLE hDevice, uint32_t nInterfaceSetting);

/**
 * \brief Resets the card's USB port.
 *
 * Exported from the DLL as `_USB_Reset@4`.
 *
 * \param hDevice A live device handle.
 * \return 1 when the reset request succeeded; 0 at once for a dead handle (no message); 0 after a
 *         message box when the request failed.
 * \par Messages
 * A failed reset is not logged: it shows the box \msgUsbResetFailed, caption "KVD4093" (on Linux
 * printed to standard error), and returns when the user has closed it.
 * \par Threads
 * As BulkRead(); the box blocks the calling thread only.
 */
KVD4093_API int32_t KVD4093_CALL USB_Reset(KVD4093_HANDLE hDevice);

/**
 * \brief Resets the card's USB port: the same as USB_Reset().
 *
 * \param hDevice A live device handle.
 * \return The result of USB_Reset(): 1 reset, 0 dead handle or failed reset (with its message box).
 * \par Threads
 * As USB_Reset().
 */
KVD4093_API int32_t KVD4093_CALL KVD4093_ResetDevice(KVD4093_HANDLE hDevice);

/**
 * \brief Makes the driver's create-low-file request on the card.
 *
 * Exported from the DLL as `_KVD4093_CreateLowFile@4`. What the card does with it is the card's.
 *
 * \param hDevice A live device handle.
 * \return The driver's own result, passed on unchanged: nonzero on success (not forced to 1), 0 on
 *         failure or for a dead handle. Not logged.
 * \par Threads
 * As BulkRead().
 */
KVD4093_API int32_t KVD4093_CALL KVD4093_CreateLowFile(KVD4093_HANDLE hDevice);

/**
 * \brief Makes the driver's close-low-file request on the card.
 *
 * Exported from the DLL as `_KVD4093_CloseLowFile@4`.
 *
 * \param hDevice A live device handle.
 * \return The driver's own result, as KVD4093_CreateLowFile().
 * \par Threads
 * As BulkRead().
 */
KVD4093_API int32_t KVD4093_CALL KVD4093_CloseLowFile(KVD4093_HANDLE hDevice);

/** @} */

/* ---- opening and identity ------------------------------------------------- */

/**
 * \name Opening and identity
 * @{
 */

/**
 * \brief Opens the card at a logical number.
 *
 * The logical number is the card's place, from 0, among the cards present, in the order they were
 * plugged in (on Linux with virtual cards: their order in `KVD4093_VIRTUAL_CARDS`). Every call
 * enumerates afresh and opens the card's driver file, then sends the open packet
 * (`01 1F 00 10` on #KVD4093_PIPE_COMMAND). Opening the same number twice gives two independent
 * handles and sends the open packet twice. The open does not select an interface setting; only
 * KVD4093_CreateDeviceEx() does.
 *
 * \param nDeviceLgcID The logical number, 0 to 31 in practice.
 * \return A new device handle, to be released with KVD4093_ReleaseDevice();
 *         #KVD4093_INVALID_HANDLE when no card can be opened at that number;
 *         NULL when the card opened but did not take the open packet (its driver file is closed
 *         again). Test for both failure values.
 * \par Error log
 * - No card at that number: code 1, "KVD4093_CreateDevice", \msgNoDeviceDriver.
 * - Open packet refused: code 1, "KVD4093_WriteDeviceDA" (not its own name), \msgDeviceHandleInvalid.
 * \par Threads
 * Any thread; opens on different threads do not disturb each other.
 * \see \ref getting-started, `example_acquire` (\ref acquire.c)
 */
KVD4093_API KVD4093_HANDLE KVD4093_CALL KVD4093_CreateDevice(int32_t nDeviceLgcID);

/**
 * \brief Opens the card with a physical ID, the identifier set on the card itself.
 *
 * Tries the logical numbers 0 to 31 in order with KVD4093_CreateDevice(), reads each opened card's
 * physical ID (two status reads; the second counts) and closes every card that is not the one
 * wanted. The card found is then sent the interface selection 0x00, 0x01 (SetInterface() with
 * 0x0100).
 *
 * IDs 0 to 15 are ordinary. The values 16 and above are special: the first card that opens decides.
 * With 16 that card is returned if its physical ID is 15; with any other value, or another ID, the
 * search fails at once. So above 16 no card is ever returned.
 *
 * \param nDevicePhysID The physical ID wanted, 0 to 15 (16: see above).
 * \return A new device handle, to be released with KVD4093_ReleaseDevice(); #KVD4093_INVALID_HANDLE
 *         when no card has that ID or the interface selection failed (the card is closed again).
 * \par Error log
 * - Each logical number tried that does not open leaves its own KVD4093_CreateDevice() entry
 *   (code 1, \msgNoDeviceDriver): up to 32 entries for a search that finds nothing.
 * - No card with the ID: code 1, "KVD4093_CreateDeviceEx", \msgPhysicalIdMissing, with the wanted ID.
 * - Interface selection failed: code 2, "KVD4093_CreateDeviceEx", \msgUsbDeviceInvalid.
 * \par Threads
 * As KVD4093_CreateDevice(). Cards opened by other threads at the same time are separate handles.
 */
KVD4093_API KVD4093_HANDLE KVD4093_CALL KVD4093_CreateDeviceEx(int32_t nDevicePhysID);

/**
 * \brief Closes a card and frees its handle.
 *
 * In this order: takes the handle out of the set of live handles, so every later call with it is
 * refused; ends what waits on the card (a KVD4093_ReadDeviceAD() waiting on another thread ends at
 * once, with failure); waits until no other call still uses the handle, at most 5 seconds; closes
 * the card's driver file; frees the record behind the handle. Nothing is sent to the card: an
 * acquisition still running is not stopped (call KVD4093_ReleaseDeviceAD() first).
 *
 * \param hDevice A live device handle.
 * \return 1 when the card was closed; 0 for a dead handle (null, -1, released, or never handed out;
 *         not logged), or when a call on the handle did not end within 5 seconds or the driver file
 *         could not be closed: the handle then stays live, and a later release may succeed.
 * \par Error log
 * - Calls on the handle still running after 5 seconds, or driver file not closed: code 1,
 *   "KVD4093_ReleaseDevice", \msgDeviceHandleInvalid.
 * \par Threads
 * May run while other threads use the same handle; theirs finish or fail, none touches freed
 * memory. See \ref threads.
 */
KVD4093_API int32_t KVD4093_CALL KVD4093_ReleaseDevice(KVD4093_HANDLE hDevice);

/**
 * \brief The number of cards the driver counts, asked through any open card.
 *
 * \param hDevice A live device handle of any card.
 * \return The driver's count; 0 for a dead handle (not logged) or a failed request (logged): only
 *         the log tells the two apart.
 * \par Error log
 * - Request failed: code 1, "KVD4093_GetDeviceCount", \msgDeviceHandleInvalid.
 * \par Threads
 * Any thread.
 */
KVD4093_API int32_t KVD4093_CALL KVD4093_GetDeviceCount(KVD4093_HANDLE hDevice);

/**
 * \brief The logical number and the physical ID of an open card.
 *
 * Asks the driver for the logical number, then reads the physical ID from the status packet (two
 * reads; the second counts). The parameter store uses this call to choose a card's settings
 * sections (\ref settings).
 *
 * \param hDevice       A live device handle.
 * \param pDeviceLgcID  Receives the logical number as the driver reports it; may be NULL.
 * \param pDevicePhysID Receives the physical ID, 0 to 255; may be NULL.
 * \return 1 when both were read. 0 for a dead handle (nothing written, not logged); 0 when the
 *         driver request failed (nothing written, logged); 0 when a status read failed (the logical
 *         number is already written, the physical ID is not; not logged).
 * \par Error log
 * - Request failed: code 1, "KVD4093_GetDeviceCurrentID", \msgDeviceHandleInvalid.
 * \par Threads
 * Any thread. The status reads are two requests; another thread's status reads on the same card
 * between them do no harm.
 */
KVD4093_API int32_t KVD4093_CALL KVD4093_GetDeviceCurrentID(KVD4093_HANDLE hDevice, int32_t *pDeviceLgcID,
                                                            int32_t *pDevicePhysID);

/**
 * \brief The card's version word, read from one status packet.
 *
 * \param hDevice          A live device handle.
 * \param pulFmwVersion    Receives the version: status byte 18 in bits 0 to 7, byte 19 in bits 8
 *                         to 15, byte 20 in bits 16 to 23, bits 24 to 31 zero (a virtual card
 *                         reports 0x010001, version 1.0.1). May be NULL.
 * \param pulDriverVersion Receives the constant 0x06000000. May be NULL.
 * \return 1 when the status was read; 0 for a dead handle or a failed status read (nothing written).
 *         Not logged.
 * \par Threads
 * Any thread.
 */
KVD4093_API int32_t KVD4093_CALL KVD4093_GetDevVersion(KVD4093_HANDLE hDevice, uint32_t *pulFmwVersion,
                                                       uint32_t *pulDriverVersion);

/**
 * \brief Shows the cards present in a message box: their physical IDs and logical numbers.
 *
 * Counts the cards through the first one that opens (KVD4093_GetDeviceCount()), then opens each
 * logical number 0 to 31, reads its physical ID and closes it again, and shows one text, caption
 * \msgListCaption (information icon, OK only). The text is the pieces listed under "The device list"
 * in \ref troubleshooting (the count line, the heading, one pair of lines per card with both numbers
 * in lower-case hexadecimal, and a note on the two kinds of number). A card whose ID cannot be read
 * is listed with ID ffffffff. On Linux the caption and text are printed to standard error, converted
 * to the terminal's encoding, and the call returns at once.
 *
 * \return 1, always, after the box has been closed.
 * \par Error log
 * Every logical number without a card leaves a KVD4093_CreateDevice() entry, in the count and again
 * in the list (64 entries with no card present, 31 with one card at number 0). The report itself
 * logs nothing.
 * \par Threads
 * Any thread; it holds each card open only for one count or one ID read.
 */
KVD4093_API int32_t KVD4093_CALL KVD4093_ListDeviceDlg(void);

/** @} */

/* ---- AD acquisition --------------------------------------------------------- */

/**
 * \name AD acquisition
 * Set up and start with KVD4093_InitDeviceAD(), read with KVD4093_ReadDeviceAD() as often as
 * wanted, stop with KVD4093_ReleaseDeviceAD(). The library enforces no order.
 * @{
 */

/**
 * \brief Sets up an AD acquisition from a parameter record and starts it.
 *
 * Copies the record into the card's handle (the stop builds its packets from that copy), then sends
 * on #KVD4093_PIPE_AD_COMMAND: the range word 0x8020, the range word of the record, the
 * configuration packet (see ::ADPara for every field's bits) and the start packet. Then it reads
 * 512 samples and discards them: the card's first samples.
 *
 * Scan alignment. Samples arrive scan after scan, channel #ADPara::FirstChannel to
 * #ADPara::LastChannel. Because the set-up took 512 samples, the first sample of the first
 * KVD4093_ReadDeviceAD() belongs to channel `FirstChannel + 512 % n`, where
 * `n = LastChannel - FirstChannel + 1` (with 3 channels: FirstChannel + 2). With a channel count
 * that divides 512 (1, 2, 4, 8, ...) it is FirstChannel.
 *
 * \param hDevice A live device handle.
 * \param pPara   The record to use; only read, not kept.
 * \return 1 when the acquisition runs; 0 for a dead handle or a null \p pPara (nothing sent, not
 *         logged) or when a step failed. A failed set-up leaves the packets already sent in force.
 * \par Error log
 * - Either range packet failed: code 1, "KVD4093_InitDeviceAD", \msgSetRangeFailed.
 * - Configuration packet failed: code 1, "KVD4093_InitDeviceAD", \msgSetHardwareFailed.
 * - Start packet failed: code 1, "KVD4093_InitDeviceAD", \msgStartAdFailed.
 * - First read failed: the read's own entry (code 2, "KVD4093_ReadDeviceAD", \msgReadAdFailed), then
 *   code 2, "KVD4093_InitDeviceAD", \msgInitialReadFailed.
 * \par Threads
 * One set-up per card at a time; it does not wait for another thread's read.
 * \see \ref getting-started, \ref acquire.c
 */
KVD4093_API int32_t KVD4093_CALL KVD4093_InitDeviceAD(KVD4093_HANDLE hDevice, const ADPara *pPara);

/**
 * \brief Reads one block of AD samples: one bulk read on #KVD4093_PIPE_AD_DATA.
 *
 * The driver places the samples in the caller's buffer unchanged: 16-bit codes in the card's byte
 * order, scan after scan (see KVD4093_InitDeviceAD() for where the first scan starts). The library
 * does not convert, reorder or buffer them. The call waits until the driver completes the request:
 * on a running acquisition, until the samples asked for exist. Codes are offset binary on the
 * virtual card: 32768 is zero.
 *
 * \param hDevice       A live device handle.
 * \param pSampleBuffer The caller's buffer, room for at least \p nSampleCount 16-bit samples.
 * \param nSampleCount  Samples wanted, up to 0x7FFFFFFF (a byte count that does not fit 32 bits is
 *                      refused). Ask for a multiple of the channel count to keep blocks on scan
 *                      boundaries.
 * \param pSamplesRead  Receives the number of 16-bit samples delivered: the driver's byte count
 *                      divided by 2 (an odd last byte is not counted). Written on failure too, when
 *                      it means nothing. May be NULL.
 * \return Nonzero (the driver's truth value) when the read completed; 0 for a dead handle (not
 *         logged) or a failed read. A read still waiting when another thread calls
 *         KVD4093_ReleaseDevice() on the card fails; one waiting when another thread calls
 *         KVD4093_ReleaseDeviceAD() completes with the samples converted.
 * \par Error log
 * - Read failed: code 2, "KVD4093_ReadDeviceAD", \msgReadAdFailed.
 * \par Threads
 * Blocks the calling thread. KVD4093_ReleaseDeviceAD() may be called from another thread while it
 * waits: that is the way to stop a reader. One reader per card: with two, the stop's wait sees
 * only the last to change.
 * \see \ref threads
 */
KVD4093_API int32_t KVD4093_CALL KVD4093_ReadDeviceAD(KVD4093_HANDLE hDevice, uint16_t *pSampleBuffer,
                                                      uint32_t nSampleCount, uint32_t *pSamplesRead);

/**
 * \brief Stops the AD acquisition, letting a read that is still waiting finish first.
 *
 * Built from the record of the last KVD4093_InitDeviceAD() (all zero if there was none): sends both
 * range packets, a configuration packet with the trigger mode, trigger source and clock source
 * forced to 0 and the fast fixed divider 67 (about 149 kHz), and a start packet, so a read still
 * waiting receives data. Then it waits, spinning, until no KVD4093_ReadDeviceAD() is in progress on
 * the card or 2000 ms have passed, and sends the stop packet.
 *
 * \param hDevice A live device handle.
 * \return 1 when the stop packet went out; 0 for a dead handle (not logged) or a failed packet. A
 *         failed stop leaves the card as the packets already sent left it, possibly running.
 * \par Error log
 * - Either range packet failed: code 1, "KVD4093_InitDeviceAD" (the set-up's name, not its own),
 *   \msgSetRangeFailed.
 * - Configuration, start or stop packet failed: not logged.
 *
 * KVD4093_GetLastErrorEx() with "KVD4093_ReleaseDeviceAD" therefore always answers "No error
 * message"; look up "KVD4093_InitDeviceAD".
 * \par Threads
 * The one call made to run on another thread while KVD4093_ReadDeviceAD() waits on the same card.
 * \see \ref threads
 */
KVD4093_API int32_t KVD4093_CALL KVD4093_ReleaseDeviceAD(KVD4093_HANDLE hDevice);

/**
 * \brief Sets the trigger level.
 *
 * Exported from the DLL as `_KVD4093_SetDeviceTrigLevel@8`. The level byte is
 * trunc(\p nTrigLevel x 0.0256), at most 255: 10 000 input units span the 256 steps (0 to 39
 * give 0, 40 gives 1, 5000 gives 128, 9961 and above give 255). Negative levels give 0. Sent as one
 * packet on #KVD4093_PIPE_COMMAND (`04` and the level byte). It may be set at any time.
 *
 * \param hDevice    A live device handle.
 * \param nTrigLevel The level, 0 to 10 000.
 * \return 1 when the packet went out; 0 when it did not, a dead handle included.
 * \par Error log
 * - Packet failed or dead handle: code 1, "KVD4093_SetDeviceTrigLevel", \msgDeviceHandleInvalid.
 * \par Threads
 * Any thread.
 */
KVD4093_API int32_t KVD4093_CALL KVD4093_SetDeviceTrigLevel(KVD4093_HANDLE hDevice, int32_t nTrigLevel);

/** @} */

/* ---- DA output and digital I/O ------------------------------------------------ */

/**
 * \name DA output and digital I/O
 * @{
 */

/**
 * \brief Writes one DA channel: its setup code, then its value.
 *
 * Two packets on #KVD4093_PIPE_COMMAND: the setup word (`01`, setup code, `00`, `08` + channel)
 * and the value word (`01`, low 4 bits of the value x 16, value bits 4 to 11, channel). Only the
 * listed bits travel: value 4096 is sent as 0, channel 9 as 1, setup code 12 as 4.
 *
 * \param hDevice    A live device handle.
 * \param nSetupCode Setup code of the DA converter, bits 0 to 2 used; passed through unnamed.
 * \param nDAValue   The 12-bit value, 0 to 4095.
 * \param nChannel   The DA channel, 0 to 7.
 * \return 1 when both packets went out; 0 for a dead handle (not logged) or a failed packet (when
 *         the value packet fails, the setup packet has already gone out).
 * \par Error log
 * - Either packet failed: code 1, "KVD4093_WriteDeviceDA", \msgDeviceHandleInvalid.
 * \par Threads
 * Any thread; another thread's packets may come between the setup and the value packet.
 * \see \ref digital_io.c
 */
KVD4093_API int32_t KVD4093_CALL KVD4093_WriteDeviceDA(KVD4093_HANDLE hDevice, int32_t nSetupCode,
                                                       int32_t nDAValue, int32_t nChannel);

/**
 * \brief Sets all 16 digital outputs at once.
 *
 * One packet on #KVD4093_PIPE_COMMAND: `03`, outputs 0 to 7 (bit n = output n), outputs 8 to 15.
 *
 * \param hDevice   A live device handle.
 * \param pDOStates 16 bytes, element n for output n; only bit 0 of each counts (2 sets the line to
 *                  0, 3 sets it to 1). Only read.
 * \return 1 when the packet went out; 0 when it did not: a dead handle, a null \p pDOStates (nothing
 *         sent) or a failed packet.
 * \par Error log
 * - Any failure, a dead handle included: code 1, "KVD4093_SetDeviceDO", \msgDeviceHandleInvalid.
 * \par Threads
 * Any thread.
 * \see \ref digital_io.c
 */
KVD4093_API int32_t KVD4093_CALL KVD4093_SetDeviceDO(KVD4093_HANDLE hDevice, const uint8_t *pDOStates);

/**
 * \brief Reads all 16 digital inputs at once, from one status packet.
 *
 * \param hDevice   A live device handle.
 * \param pDIStates Receives 16 bytes, element n for input n, each 0 or 1. Untouched on failure.
 * \return 1 when the status was read; 0 for a dead handle, a null \p pDIStates or a failed read.
 *         Not logged.
 * \par Threads
 * Any thread.
 * \see \ref digital_io.c
 */
KVD4093_API int32_t KVD4093_CALL KVD4093_GetDeviceDI(KVD4093_HANDLE hDevice, uint8_t *pDIStates);

/** @} */

/* ---- error log ------------------------------------------------------------------ */

/**
 * \name Error log
 * @{
 */

/**
 * \brief The newest message logged under a function name, and the thread's last-error code.
 *
 * Looks through the error log from the newest entry back for the name, compared whole and
 * case-sensitively ("KVD4093_InitDeviceAD", as the entries of each function name it), and writes
 * `<message>[<name>]` into \p strErrorMsg, or `No error message[<name>]` when nothing was logged
 * under that name (or its entries were dropped: the log holds at most 257 entries and is emptied
 * when it grows past 256). Example: after a failed start, "KVD4093_InitDeviceAD" gives
 * \msgStartAdFailed followed by `[KVD4093_InitDeviceAD]`, in GBK.
 *
 * \param strFuncName The function name to look up, without decoration. May be the same buffer as
 *                    \p strErrorMsg.
 * \param strErrorMsg The caller's buffer. No size is passed: it must hold the message, the name and
 *                    3 more bytes. The longest message is 55 bytes and the longest name the library
 *                    logs 26, so 84 bytes hold every answer for the library's names; 256 is a
 *                    comfortable size.
 * \return The calling thread's last-error code as it was when the call began: the code (1 or 2)
 *         of the thread's newest logged failure, unless something else changed it since (on
 *         Windows every system call may). Nothing is written when either pointer is NULL.
 * \par Threads
 * Any thread. The log is shared by all threads; each entry is appended whole, so a lookup never
 * sees half an entry. The last-error code is per thread.
 * \see \ref troubleshooting
 */
KVD4093_API uint32_t KVD4093_CALL KVD4093_GetLastErrorEx(const char *strFuncName, char *strErrorMsg);

/** @} */

/* ---- parameter store ------------------------------------------------------------ */

/**
 * \name Parameter store
 * Settings per card, in the per-user registry on Windows and in one file on Linux; \ref settings
 * gives the layout. The card is identified by KVD4093_GetDeviceCurrentID(): AD records by its
 * physical ID, free values by its logical number. No open card is needed: when the numbers cannot
 * be read (a null handle, a failed request) the store uses 0 for both. None of these calls logs
 * anything of its own; KVD4093_GetDeviceCurrentID() may log its failed request.
 * @{
 */

/**
 * \brief Saves an AD parameter record for the card.
 *
 * Writes `CompanyName` = "Olmvarde" and `CardType` = "KVD4093" in the root, the card's
 * `DevicePhysID` and `DeviceLgcID` in `Device-0` (every card overwrites them: they hold the card
 * saved last), and the 17 fields in `Device-<physical ID>\ADPara`.
 *
 * \param hDevice A device handle, or NULL for "card 0".
 * \param pPara   The record to save; only read.
 * \return 1 when every value was written; 0 for a null \p pPara or at the first write that fails
 *         (the values written before it stay).
 * \par Threads
 * Any thread, also from several processes at once: on Linux every save lands whole in the file.
 * \see \ref settings.c
 */
KVD4093_API int32_t KVD4093_CALL KVD4093_SaveParaAD(KVD4093_HANDLE hDevice, const ADPara *pPara);

/**
 * \brief Loads the card's saved AD parameter record, with defaults for missing values.
 *
 * Reads `Device-<physical ID>\ADPara`. A missing value gives the field's default (see ::ADPara):
 * a card never saved gets 0, 0, 0, 1, 25000, 0, 1000, 1, 0, 0, 0, 0, 0, 10, 0, 0, 0.
 *
 * \param hDevice A device handle, or NULL for "card 0".
 * \param pPara   Receives all 17 fields. When NULL nothing is stored.
 * \return 1, always.
 * \par Threads
 * Any thread.
 * \see \ref acquire.c, \ref settings.c
 */
KVD4093_API int32_t KVD4093_CALL KVD4093_LoadParaAD(KVD4093_HANDLE hDevice, ADPara *pPara);

/**
 * \brief Deletes the card's saved AD record and fills the caller's record with the defaults.
 *
 * Removes the section `Device-<physical ID>\ADPara` and nothing else, then loads as
 * KVD4093_LoadParaAD().
 *
 * \param hDevice A device handle, or NULL for "card 0".
 * \param pPara   Receives the 17 defaults. May be NULL (the section is still deleted).
 * \return 1, always.
 * \par Threads
 * Any thread.
 * \see \ref settings.c
 */
KVD4093_API int32_t KVD4093_CALL KVD4093_ResetParaAD(KVD4093_HANDLE hDevice, ADPara *pPara);

/**
 * \brief Saves a named integer for the card, in `Device-<logical number>\Others`.
 *
 * \param hDevice     A device handle, or NULL for "card 0".
 * \param strParaName The value's name, a GBK text of the caller's choice.
 * \param nParaValue  The value; stored with its bit pattern, negative values come back as saved.
 * \return 1 when written; 0 when the write failed or \p strParaName is NULL.
 * \par Threads
 * Any thread.
 */
KVD4093_API int32_t KVD4093_CALL KVD4093_SaveParaInt(KVD4093_HANDLE hDevice, const char *strParaName,
                                                     int32_t nParaValue);

/**
 * \brief Loads a named integer saved for the card.
 *
 * \param hDevice       A device handle, or NULL for "card 0".
 * \param strParaName   The value's name.
 * \param nDefaultValue Returned when no integer of that name is saved (or the name is NULL).
 * \return The saved integer, or \p nDefaultValue.
 * \par Threads
 * Any thread.
 */
KVD4093_API int32_t KVD4093_CALL KVD4093_LoadParaInt(KVD4093_HANDLE hDevice, const char *strParaName,
                                                     int32_t nDefaultValue);

/**
 * \brief Saves a named text for the card, in `Device-<logical number>\Others`.
 *
 * \param hDevice      A device handle, or NULL for "card 0".
 * \param strParaName  The value's name.
 * \param strParaValue The text, stored byte for byte (a "%d" in it stays "%d").
 * \return 1 when written; 0 when the write failed or either text is NULL.
 * \par Threads
 * Any thread.
 */
KVD4093_API int32_t KVD4093_CALL KVD4093_SaveParaString(KVD4093_HANDLE hDevice, const char *strParaName,
                                                        const char *strParaValue);

/**
 * \brief Loads a named text saved for the card. Note the order: the buffer before the default.
 *
 * \param hDevice         A device handle, or NULL for "card 0".
 * \param strParaName     The value's name.
 * \param strParaValue    The caller's buffer, filled with the text and its terminating zero. No size
 *                        is passed: it must hold the longest text that may be saved under the name.
 *                        When NULL nothing is written.
 * \param strDefaultValue Copied when no text of that name is saved (NULL counts as "").
 * \return 1, always.
 * \par Threads
 * Any thread.
 */
KVD4093_API int32_t KVD4093_CALL KVD4093_LoadParaString(KVD4093_HANDLE hDevice, const char *strParaName,
                                                        char *strParaValue, const char *strDefaultValue);

/**
 * \brief The installation folder: the root value `AppPath`, default `C:\OLM\KVD4093`.
 *
 * Exported from the DLL as `_KVD4093_GetAppPath@8`. The library writes no `AppPath`; an installer
 * does.
 *
 * \param strAppPath   The caller's buffer.
 * \param nAppPathSize Its size in bytes. A longer folder is cut to fit with its terminating zero,
 *                     never in the middle of a GBK character. Nothing is written when the size is
 *                     0 or less or the buffer is NULL.
 * \return 1, always.
 * \par Threads
 * Any thread.
 */
KVD4093_API int32_t KVD4093_CALL KVD4093_GetAppPath(char *strAppPath, int32_t nAppPathSize);

/** @} */

/* ---- file objects and disk space ------------------------------------------------ */

/**
 * \name File objects and disk space
 * Data files through handles: open, write at the current position, read at an offset, length,
 * position, release.
 * @{
 */

/**
 * \brief Opens a data file and returns its handle.
 *
 * \param hDevice     A live device handle; only tested, not used.
 * \param strFileName The file's path.
 * \param nMode       Open-mode bits of the Windows framework's file class: read 0x0000, write
 *                    0x0001, read-write 0x0002, create 0x1000 (truncates unless no-truncate 0x2000
 *                    is set), no-inherit 0x0080. The share bits 0x0010 to 0x0040 act on Windows
 *                    only; text 0x4000 and binary 0x8000 change nothing.
 * \return A new file handle, to be released with KVD4093_ReleaseFile(); NULL for a dead
 *         \p hDevice (not logged, even with a null name); #KVD4093_INVALID_HANDLE for a null name
 *         (logged) or when the file cannot be opened (an empty name, a folder, a missing file
 *         without the create bit; not logged).
 * \par Error log
 * - Null file name: code 2, "KVD4093_CreateFileObject", \msgFileNameEmpty.
 * \par Threads
 * Any thread.
 */
KVD4093_API KVD4093_HANDLE KVD4093_CALL KVD4093_CreateFileObject(KVD4093_HANDLE hDevice, const char *strFileName,
                                                                 int32_t nMode);

/**
 * \brief Writes a block at the file's current position.
 *
 * The position is the end of the last write, or what KVD4093_ReadFile() or KVD4093_SetFileOffset()
 * left (after a read: its offset plus the bytes read).
 *
 * \param hFileObject     A live file handle.
 * \param pDataBuffer     The bytes to write.
 * \param nWriteSizeBytes How many.
 * \return 1 when every byte was written; 0 for a dead handle (logged) or a failed write (a full
 *         disk, say; not logged).
 * \par Error log
 * - Dead handle: code 1, "KVD4093_WriteFile", \msgFileHandleInvalid.
 * \par Threads
 * Any thread; calls on one file handle run one at a time.
 */
KVD4093_API int32_t KVD4093_CALL KVD4093_WriteFile(KVD4093_HANDLE hFileObject, const void *pDataBuffer,
                                                   uint32_t nWriteSizeBytes);

/**
 * \brief Reads a block from an offset. Note the order: buffer, then offset, then count.
 *
 * \param hFileObject    A live file handle.
 * \param pDataBuffer    The caller's buffer of at least \p nReadSizeBytes bytes.
 * \param nOffsetBytes   Where to read, in bytes from the start of the file.
 * \param nReadSizeBytes Bytes wanted. Past the end of the file only what it holds is read, and the
 *                       number read is not reported.
 * \return 1 when the seek and the read succeeded; 0 for a dead handle (logged) or a failed seek or
 *         read (not logged).
 * \par Error log
 * - Dead handle: code 1, "KVD4093_ReadFile", \msgFileHandleInvalid.
 * \par Threads
 * Any thread; the seek and the read stay together.
 */
KVD4093_API int32_t KVD4093_CALL KVD4093_ReadFile(KVD4093_HANDLE hFileObject, void *pDataBuffer,
                                                  uint32_t nOffsetBytes, uint32_t nReadSizeBytes);

/**
 * \brief The file's length in bytes, cut to 32 bits.
 *
 * \param hFileObject A live file handle.
 * \return The length; 0 for an empty file and for a dead handle (logged) alike.
 * \par Error log
 * - Dead handle: code 1, "KVD4093_GetFileLength", \msgFileHandleInvalid.
 * \par Threads
 * Any thread.
 */
KVD4093_API uint32_t KVD4093_CALL KVD4093_GetFileLength(KVD4093_HANDLE hFileObject);

/**
 * \brief Sets the file's current position.
 *
 * \param hFileObject  A live file handle.
 * \param nOffsetBytes The position, in bytes from the start of the file.
 * \return 1 when set; 0 for a dead handle or a failed seek. Not logged.
 * \par Threads
 * Any thread.
 */
KVD4093_API int32_t KVD4093_CALL KVD4093_SetFileOffset(KVD4093_HANDLE hFileObject, uint32_t nOffsetBytes);

/**
 * \brief Closes the file and frees its handle.
 *
 * \param hFileObject A live file handle.
 * \return 1 when closed; 0 for a dead handle, and 0 when the close failed (the handle is gone all
 *         the same). Not logged.
 * \par Threads
 * Any thread; a call still using the file finishes first.
 */
KVD4093_API int32_t KVD4093_CALL KVD4093_ReleaseFile(KVD4093_HANDLE hFileObject);

/**
 * \brief The free bytes of the disk that holds a folder.
 *
 * \param strDirectory A path on the disk in question.
 * \return All free bytes of the disk, 64 bits (not only those available to the calling user, and
 *         not the disk's size; on Linux the file system's free blocks times their size); -1 when
 *         the path is on no disk. Not logged.
 * \par Threads
 * Any thread.
 */
KVD4093_API int64_t KVD4093_CALL KVD4093_GetDiskFreeBytes(const char *strDirectory);

/** @} */

/* ---- host utilities --------------------------------------------------------------- */

/**
 * \name Host utilities
 * Threads, events, the help document, console keys and a microsecond wait. None of them touches
 * the card or writes to the error log.
 * @{
 */

/**
 * \brief Creates a worker thread, suspended.
 *
 * The thread does not run until it is resumed: on Windows with the OS's `ResumeThread`, on Linux
 * with KVD4093_ResumeThread(). Its routine receives NULL. The handle belongs to the caller: close
 * it with KVD4093_ReleaseSystemEvent() (on Windows also `CloseHandle`).
 *
 * \param phThread       Receives the thread handle, or NULL when creation failed.
 * \param pThreadRoutine The routine the thread runs once resumed.
 * \return 1 when the thread exists; 0 when it could not be made (a null routine included), after the
 *         message box \msgThreadCreateFailed, caption \msgThreadCaption, has been closed; 0 without a
 *         box and without a thread when \p phThread is NULL. Not logged.
 * \par Threads
 * Any thread.
 */
KVD4093_API int32_t KVD4093_CALL KVD4093_CreateVBThread(KVD4093_HANDLE *phThread,
                                                        KVD4093_THREAD_ROUTINE pThreadRoutine);

/**
 * \brief Ends a thread made by KVD4093_CreateVBThread().
 *
 * On Windows the OS's `TerminateThread`, with the thread's current exit code (259 for a thread that
 * still runs). On Linux only a thread that has not been resumed can be ended (it never runs its
 * routine); a running thread cannot be stopped safely, so the call answers 0 and the thread runs on:
 * ask it to return instead, for example through an event. The handle stays open.
 *
 * \param hThread A thread handle.
 * \return 1 when the thread was ended; 0 when it was not or the handle is no thread.
 * \par Threads
 * Any thread.
 */
KVD4093_API int32_t KVD4093_CALL KVD4093_TerminateVBThread(KVD4093_HANDLE hThread);

/**
 * \brief Creates an event: auto-reset, not signalled, unnamed.
 *
 * On Windows it is the OS's own event (`SetEvent`, `WaitForSingleObject`); on Linux an object of the
 * library (KVD4093_SetEvent(), KVD4093_WaitEvent()). Close it with KVD4093_ReleaseSystemEvent().
 *
 * \return The event handle, or NULL when none could be made. Not logged.
 * \par Threads
 * Any thread; an event is made to be shared between threads.
 */
KVD4093_API KVD4093_HANDLE KVD4093_CALL KVD4093_CreateSystemEvent(void);

/**
 * \brief Closes a thread or event handle.
 *
 * On Windows any handle (`CloseHandle`). On Linux a thread or event of the library: closing a
 * thread never resumed ends it, closing a running one lets it run to its end.
 *
 * \param hEvent The handle to close.
 * \return 1 when closed; 0 when the OS refused it (on Linux: not a live thread or event handle).
 * \par Threads
 * Any thread.
 */
KVD4093_API int32_t KVD4093_CALL KVD4093_ReleaseSystemEvent(KVD4093_HANDLE hEvent);

/**
 * \brief Opens the card's help document below the installation folder.
 *
 * Exported from the DLL as `_KVD4093_BrowseHelpInfo@4`. Forms the path from KVD4093_GetAppPath()
 * (128 bytes at most) followed by \msgHelpSuffix, shows it in a message box (caption "KVD4093"),
 * then starts it. When the folder does not exist it shows a second box, \msgHelpPathNotFound.
 * On Linux `\` reads as `/`, an executable file is started, any other is opened with `xdg-open`,
 * and the boxes are printed to standard error.
 *
 * \param nReserved Ignored.
 * \return 1, always.
 * \par Threads
 * Any thread; the boxes block the calling thread.
 */
KVD4093_API int32_t KVD4093_CALL KVD4093_BrowseHelpInfo(int32_t nReserved);

/**
 * \brief Whether a key press waits at the console. Does not wait, and does not take the key.
 *
 * On Linux the keys come from standard input, key by key without echo while the call runs; a key
 * already waiting is then returned by KVD4093_getch().
 *
 * \return Nonzero when a key waits; 0 when none does.
 * \par Threads
 * Any thread; one thread at a time should read the console.
 */
KVD4093_API int32_t KVD4093_CALL KVD4093_kbhit(void);

/**
 * \brief Waits for a key press at the console and returns it, without echo.
 *
 * Enter reads as 13, as on Windows. On Linux, Ctrl-C pressed while the call waits reads as the
 * key 3 (no signal is raised), and the terminal's settings are restored when the call returns.
 *
 * \return The key's character code; on Linux -1 when standard input has ended.
 * \par Threads
 * Blocks the calling thread.
 */
KVD4093_API int32_t KVD4093_CALL KVD4093_getch(void);

/**
 * \brief Busy-waits a number of microseconds on the high-resolution counter.
 *
 * Exported from the DLL as `_KVD4093_DelayTimeUs@8`. Spins without sleeping or yielding until
 * strictly more than \p nTimeUs microseconds have passed.
 *
 * \param hDevice A live device handle; only tested.
 * \param nTimeUs The wait in microseconds; 0 waits one counter tick, a negative value returns after
 *                the first reading.
 * \return 1 after the wait; 0 at once for a dead handle. Not logged.
 * \par Threads
 * Occupies the calling thread's core for the whole wait.
 */
KVD4093_API int32_t KVD4093_CALL KVD4093_DelayTimeUs(KVD4093_HANDLE hDevice, int32_t nTimeUs);

/** @} */

#ifdef __cplusplus
}
#endif

#endif /* KVD4093_H */
