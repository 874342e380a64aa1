/*
 * reader_thread.c - a reader thread that reads the card block after block
 * into a ring of blocks, and the main thread that writes them to a file.
 *
 * A card converts at its rate whether or not the program reads, into a
 * memory of its own that is finite. Reading on a thread of its own, back to
 * back, keeps the card's memory empty; a slow write (a disk that stalls)
 * only fills the ring. A full ring is never waited for: the reader reads on
 * and counts what it could not keep, so nothing is lost without a word.
 * Writes BLOCKS_TO_WRITE blocks to reader_thread.bin, stops the card from
 * the main thread, and exits 0 when the reader ended after the stop.
 */
#include <stdatomic.h>
#include <stdint.h>
#include <stdio.h>

#include "KVD4093.h"
#if defined(_WIN32)
#include <windows.h>
#else
#include "KVD4093_posix.h"
#endif

#define BLOCK_SAMPLES 4096
#define BLOCKS_TO_WRITE 200

#if defined(_WIN32)
static int resumeThread(KVD4093_HANDLE thread) { return ResumeThread((HANDLE)thread) != (DWORD)-1; }
static void signalEvent(KVD4093_HANDLE event) { SetEvent((HANDLE)event); }
static int waitEvent(KVD4093_HANDLE event, uint32_t ms) { return WaitForSingleObject((HANDLE)event, ms) == WAIT_OBJECT_0; }
#else
static int resumeThread(KVD4093_HANDLE thread) { return KVD4093_ResumeThread(thread) == 1; }
static void signalEvent(KVD4093_HANDLE event) { KVD4093_SetEvent(event); }
static int waitEvent(KVD4093_HANDLE event, uint32_t ms) { return KVD4093_WaitEvent(event, ms) == 1; }
#endif

/* [ring] */
/* One reader and one writer share the ring: the reader alone moves
   `written`, the writer alone `taken`, so two counters need no lock. */
#define RING_BLOCKS 16
static uint16_t ring[RING_BLOCKS][BLOCK_SAMPLES];
static atomic_uint written;      /* blocks the reader put in the ring */
static atomic_uint taken;        /* blocks the writer took out */
static atomic_uint dropped;      /* blocks read while the ring was full */
static atomic_int stopping;      /* set by the main thread before the stop */
static KVD4093_HANDLE blockReady; /* the reader signals every block it puts in */
static KVD4093_HANDLE readerDone; /* signalled by the reader as it ends */
/* [ring] */

static KVD4093_HANDLE card;

/* Reads exactly BLOCK_SAMPLES samples: a read may return fewer. */
static int readBlock(uint16_t *samples) {
    uint32_t done = 0, got = 0;
    while (done < BLOCK_SAMPLES) {
        if (!KVD4093_ReadDeviceAD(card, samples + done, BLOCK_SAMPLES - done, &got) || got == 0)
            return 0;
        done += got;
    }
    return 1;
}

/* [reader] */
static uint32_t KVD4093_CALL reader(void *unused) {
    static uint16_t scratch[BLOCK_SAMPLES];
    (void)unused;
    while (!atomic_load(&stopping)) {
        unsigned slot = atomic_load(&written);
        int full = slot - atomic_load(&taken) == RING_BLOCKS;
        /* Full: read anyway, so the card's memory does not overflow, and count the loss. */
        if (!readBlock(full ? scratch : ring[slot % RING_BLOCKS]))
            break; /* after the stop no more samples come */
        if (full) {
            atomic_fetch_add(&dropped, 1);
        } else {
            atomic_store(&written, slot + 1);
            signalEvent(blockReady);
        }
    }
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
    FILE *out = fopen("reader_thread.bin", "wb");
    int ok = out != NULL;

    card = KVD4093_CreateDevice(0);
    if (card == KVD4093_INVALID_HANDLE || card == NULL)
        return fail("KVD4093_CreateDevice");
    KVD4093_LoadParaAD(card, &para);
    blockReady = KVD4093_CreateSystemEvent();
    readerDone = KVD4093_CreateSystemEvent();
    if (!ok || blockReady == NULL || readerDone == NULL || !KVD4093_InitDeviceAD(card, &para)) {
        KVD4093_ReleaseDevice(card);
        return fail("KVD4093_InitDeviceAD");
    }
    if (!KVD4093_CreateVBThread(&thread, reader) || !resumeThread(thread)) {
        KVD4093_ReleaseDeviceAD(card);
        KVD4093_ReleaseDevice(card);
        fprintf(stderr, "the reader thread did not start\n");
        return 1;
    }

    /* [writer] */
    for (unsigned block = 0; block < BLOCKS_TO_WRITE && ok;) {
        if (atomic_load(&taken) == atomic_load(&written)) {
            waitEvent(blockReady, 1000); /* empty: wait for the reader */
            continue;
        }
        ok = fwrite(ring[block % RING_BLOCKS], sizeof(uint16_t), BLOCK_SAMPLES, out) == BLOCK_SAMPLES;
        atomic_store(&taken, ++block); /* the slot is the reader's again */
    }
    /* [writer] */

    /* The reader may be waiting in a read: the stop lets it return. */
    atomic_store(&stopping, 1);
    if (!KVD4093_ReleaseDeviceAD(card)) {
        fail("KVD4093_InitDeviceAD"); /* the stop logs under the start's name */
        ok = 0;
    }
    ok = waitEvent(readerDone, 5000) && ok;
    ok = fclose(out) == 0 && ok;

    KVD4093_ReleaseSystemEvent(thread);
    KVD4093_ReleaseSystemEvent(blockReady);
    KVD4093_ReleaseSystemEvent(readerDone);
    if (!KVD4093_ReleaseDevice(card))
        return fail("KVD4093_ReleaseDevice");
    printf("wrote %u blocks; %u read while the ring was full were dropped%s\n", (unsigned)atomic_load(&taken),
           (unsigned)atomic_load(&dropped), ok ? "" : ": FAILED");
    return ok ? 0 : 1;
}
