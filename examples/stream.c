/*
 * stream.c - a background acquisition with the stream library: the stream
 * reads the card on a thread of its own into a bounded buffer, and the
 * program takes whole scans when it likes and writes them to a file.
 *
 * A card converts at its rate whether or not the program reads, into a
 * memory of its own that is finite. The stream's reader keeps that memory
 * empty however slowly the program writes; when the program falls so far
 * behind that the buffer is full, the stream drops whole blocks and says
 * where (KVD4093_STREAM_CONTINUE), so nothing is lost without a word.
 * Writes SCANS scans of channels 0-3 to stream.bin and exits 0 when every
 * scan was written or its loss reported.
 */
#include <stdint.h>
#include <stdio.h>

#include "KVD4093_stream.h"

#define SCANS 100000
#define SCANS_A_READ 1000

int main(void) {
    static uint16_t samples[SCANS_A_READ * 4];
    int64_t written = 0, lost = 0, gaps = 0;
    KVD4093_STREAM_STATUS status;
    FILE *out;
    int ok = 1;

    /* [open] */
    /* Fields not named are 0: their defaults. */
    KVD4093_STREAM_CONFIG config = {.cards = "0", .firstChannel = 0, .lastChannel = 3, .scanRate = 10000.0,
                                    .bufferSeconds = 2.0, .onOverrun = KVD4093_STREAM_CONTINUE,
                                    .scans = SCANS}; /* scans 0: until KVD4093_StopStream() */
    KVD4093_STREAM *stream = KVD4093_OpenStream(&config);
    if (stream == NULL) {
        fprintf(stderr, "no stream: %s\n", KVD4093_GetStreamError(NULL));
        return 1;
    }
    if (!KVD4093_StartStream(stream)) {
        fprintf(stderr, "the stream did not start: %s\n", KVD4093_GetStreamError(stream));
        KVD4093_CloseStream(stream);
        return 1;
    }
    /* [open] */

    out = fopen("stream.bin", "wb");
    ok = out != NULL;
    /* [read] */
    for (;;) {
        KVD4093_STREAM_BLOCK block;
        int64_t scans = KVD4093_ReadStream(stream, samples, SCANS_A_READ, -1, &block);
        if (scans < 0)
            break; /* ended, and every scan read was taken */
        if (block.scansLostBefore > 0) {
            /* Scans firstScan - scansLostBefore to firstScan - 1 were dropped. */
            lost += block.scansLostBefore;
            ++gaps;
        }
        ok = ok && fwrite(samples, sizeof(uint16_t), (size_t)scans * 4, out) == (size_t)scans * 4;
        written += scans;
    }
    /* [read] */

    /* [end] */
    KVD4093_GetStreamStatus(stream, &status);
    if (status.failed)
        fprintf(stderr, "the stream failed: %s\n", KVD4093_GetStreamError(stream));
    printf("wrote %lld scans; %lld lost in %lld gaps (%lld in all); the reads fell at most %lld scans behind\n",
           (long long)written, (long long)lost, (long long)gaps, (long long)status.scansLost,
           (long long)status.largestBacklog);
    KVD4093_CloseStream(stream);
    /* [end] */
    ok = out != NULL && fclose(out) == 0 && ok;
    ok = ok && !status.failed && written + status.scansLost == SCANS;
    return ok ? 0 : 1;
}
