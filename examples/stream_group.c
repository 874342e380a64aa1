/*
 * stream_group.c - two cards in lock-step with the stream library: the first
 * card drives the sample clock out of its connector, the second converts on
 * the clock it receives, and the stream hands out scan k of both cards as one
 * scan, the first card's channels first.
 *
 * Wire the first card's clock output to the second card's clock input. The
 * stream starts the second card first (it waits for ticks), then the first;
 * a card that receives no clock ends the start with a message naming it.
 * Writes SCANS scans of channels 0-1 of both cards to stream_group.bin and
 * exits 0 when every scan was written or its loss reported.
 */
#include <stdint.h>
#include <stdio.h>

#include "KVD4093_stream.h"

#define SCANS 50000
#define SCANS_A_READ 1000
#define CHANNELS 2

int main(void) {
    static uint16_t samples[SCANS_A_READ * KVD4093_STREAM_MOST_CARDS * CHANNELS];
    KVD4093_STREAM_CARD cards[KVD4093_STREAM_MOST_CARDS];
    int64_t written = 0, lost = 0;
    int32_t count, width, i;
    KVD4093_STREAM_STATUS status;
    FILE *out;
    int ok = 1;

    /* [open] */
    /* The first card drives the clock; clockMode 0: shared, the codes 0: our cards' 1 and 1. */
    KVD4093_STREAM_CONFIG config = {.cards = "0,1", .firstChannel = 0, .lastChannel = CHANNELS - 1,
                                    .scanRate = 10000.0, .onOverrun = KVD4093_STREAM_CONTINUE, .scans = SCANS};
    KVD4093_STREAM *stream = KVD4093_OpenStream(&config);
    if (stream == NULL) {
        fprintf(stderr, "no stream: %s\n", KVD4093_GetStreamError(NULL));
        return 1;
    }
    if (!KVD4093_StartStream(stream)) {
        /* e.g. "card ID 9 received no clock: is its clock input wired to card ID 7's clock output?" */
        fprintf(stderr, "the group did not start: %s\n", KVD4093_GetStreamError(stream));
        KVD4093_CloseStream(stream);
        return 1;
    }
    /* [open] */

    /* [cards] */
    count = KVD4093_GetStreamCards(stream, cards, KVD4093_STREAM_MOST_CARDS);
    width = KVD4093_GetStreamChannels(stream); /* CHANNELS x count */
    printf("scan");
    for (i = 0; i < width; ++i)
        printf(",ID%d:ch%d", (int)cards[i / CHANNELS].physicalId, (int)(i % CHANNELS));
    printf("\n");
    /* [cards] */

    out = fopen("stream_group.bin", "wb");
    ok = out != NULL;
    /* [read] */
    for (;;) {
        KVD4093_STREAM_BLOCK block;
        int64_t scans = KVD4093_ReadStream(stream, samples, SCANS_A_READ, -1, &block);
        if (scans < 0)
            break;
        /* A block lost on any card is a gap of the whole group, said once. */
        lost += block.scansLostBefore;
        ok = ok && fwrite(samples, sizeof(uint16_t), (size_t)(scans * width), out) == (size_t)(scans * width);
        written += scans;
    }
    /* [read] */

    KVD4093_GetStreamStatus(stream, &status);
    if (status.failed)
        fprintf(stderr, "the group failed: %s\n", KVD4093_GetStreamError(stream));
    printf("wrote %lld scans of %d cards; %lld lost\n", (long long)written, (int)count, (long long)lost);
    KVD4093_CloseStream(stream);
    ok = out != NULL && fclose(out) == 0 && ok;
    ok = ok && !status.failed && count == 2 && written + status.scansLost == SCANS;
    return ok ? 0 : 1;
}
