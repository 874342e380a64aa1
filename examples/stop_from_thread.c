/*
 * stop_from_thread.c - a reader thread blocked in KVD4093_ReadDeviceAD, and
 * the main thread stopping the acquisition under it.
 *
 * KVD4093_ReleaseDeviceAD is the one call made to run on another thread while
 * a read waits on the same card: it restarts the card at a fast rate so the
 * waiting read gets its samples, waits up to 2 s for it to return, then stops.
 * The reader's next read then fails, and the reader ends. Exits 0 when the
 * reader read at least one block and ended after the stop, 1 otherwise.
 */
#include <stdint.h>
#include <stdio.h>

#include "KVD4093.h"
#if defined(_WIN32)
#include <windows.h>
#else
#include "KVD4093_posix.h"
#endif

#define BLOCK_SAMPLES 4096

static KVD4093_HANDLE card;
static KVD4093_HANDLE readerDone; /* signalled by the reader as it ends */
static uint32_t blocksRead;       /* the reader's; read by main after readerDone */

/* [thread helpers] */
/* Threads and events of the library are the OS's own on Windows and the
   library's on POSIX, where KVD4093_posix.h resumes, signals and waits. */
#if defined(_WIN32)
static int resumeThread(KVD4093_HANDLE thread) { return ResumeThread((HANDLE)thread) != (DWORD)-1; }
static void signalEvent(KVD4093_HANDLE event) { SetEvent((HANDLE)event); }
static int waitEvent(KVD4093_HANDLE event, uint32_t ms) { return WaitForSingleObject((HANDLE)event, ms) == WAIT_OBJECT_0; }
#else
static int resumeThread(KVD4093_HANDLE thread) { return KVD4093_ResumeThread(thread) == 1; }
static void signalEvent(KVD4093_HANDLE event) { KVD4093_SetEvent(event); }
static int waitEvent(KVD4093_HANDLE event, uint32_t ms) { return KVD4093_WaitEvent(event, ms) == 1; }
#endif
/* [thread helpers] */

/* [reader] */
static uint32_t KVD4093_CALL reader(void *unused) {
    static uint16_t samples[BLOCK_SAMPLES];
    uint32_t read = 0;
    (void)unused;
    /* Reads until one fails: after the stop no more samples come. */
    while (KVD4093_ReadDeviceAD(card, samples, BLOCK_SAMPLES, &read))
        ++blocksRead;
    signalEvent(readerDone);
    return 0;
}
/* [reader] */

static int fail(const char *function) {
    char message[512];
    KVD4093_GetLastErrorEx(function, message);
    fprintf(stderr, "%s failed: %s\n", function, message);
    return 1;
}

int main(void) {
    ADPara para;
    KVD4093_HANDLE thread = NULL;
    int ok;

    card = KVD4093_CreateDevice(0);
    if (card == KVD4093_INVALID_HANDLE || card == NULL)
        return fail("KVD4093_CreateDevice");
    KVD4093_LoadParaAD(card, &para);
    readerDone = KVD4093_CreateSystemEvent();
    if (readerDone == NULL || !KVD4093_InitDeviceAD(card, &para)) {
        KVD4093_ReleaseDevice(card);
        return fail("KVD4093_InitDeviceAD");
    }

    /* [stop from another thread] */
    if (!KVD4093_CreateVBThread(&thread, reader) || !resumeThread(thread)) {
        KVD4093_ReleaseDeviceAD(card);
        KVD4093_ReleaseDevice(card);
        fprintf(stderr, "the reader thread did not start\n");
        return 1;
    }
    KVD4093_DelayTimeUs(card, 100000);  /* let it read for 100 ms */
    ok = KVD4093_ReleaseDeviceAD(card); /* the reader may be waiting in a read now */
    if (!ok)
        fail("KVD4093_InitDeviceAD");   /* the stop logs under the start's name */
    ok = waitEvent(readerDone, 5000) && ok;
    /* [stop from another thread] */

    KVD4093_ReleaseSystemEvent(thread);
    KVD4093_ReleaseSystemEvent(readerDone);
    if (!KVD4093_ReleaseDevice(card))
        return fail("KVD4093_ReleaseDevice");
    printf("the reader read %u blocks and ended after the stop%s\n", (unsigned)blocksRead, ok ? "" : ": NOT");
    return ok && blocksRead > 0 ? 0 : 1;
}
