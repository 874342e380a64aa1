/*
 * acquire.c - the typical acquisition: open card 0, load its saved AD
 * settings, start, read blocks of samples, stop, close.
 *
 * Prints the lowest, highest and mean code of each channel. Exits 0 when every
 * call succeeded and every block came whole, 1 otherwise (with the library's
 * message for the failed call).
 */
#include <stdint.h>
#include <stdio.h>

#include "KVD4093.h"

#define BLOCK_SAMPLES 4096
#define BLOCKS 8
#define MAX_CHANNELS 256

/* [fail] */
static int fail(const char *function) {
    char message[512];
    KVD4093_GetLastErrorEx(function, message);
    fprintf(stderr, "%s failed: %s\n", function, message);
    return 1;
}
/* [fail] */

int main(void) {
    static uint16_t samples[BLOCK_SAMPLES];
    uint32_t low[MAX_CHANNELS], high[MAX_CHANNELS];
    uint64_t sum[MAX_CHANNELS] = {0}, count[MAX_CHANNELS] = {0};
    uint32_t position = 0; /* index of the next sample in its scan */
    ADPara para;
    KVD4093_HANDLE card;
    int32_t channels, block, c;

    /* [open] */
    card = KVD4093_CreateDevice(0);
    if (card == KVD4093_INVALID_HANDLE || card == NULL)
        return fail("KVD4093_CreateDevice");
    KVD4093_LoadParaAD(card, &para); /* the saved settings, or the defaults */
    /* [open] */
    if (para.LastChannel < para.FirstChannel || para.LastChannel - para.FirstChannel >= MAX_CHANNELS) {
        fprintf(stderr, "saved channels %d-%d not usable here\n", (int)para.FirstChannel, (int)para.LastChannel);
        KVD4093_ReleaseDevice(card);
        return 1;
    }
    channels = para.LastChannel - para.FirstChannel + 1;
    for (c = 0; c < channels; ++c) {
        low[c] = 0xFFFF;
        high[c] = 0;
    }

    /* [start] */
    if (!KVD4093_InitDeviceAD(card, &para)) {
        KVD4093_ReleaseDevice(card);
        return fail("KVD4093_InitDeviceAD");
    }
    /* The start read 512 samples: the next one belongs to channel 512 mod channels. */
    position = 512 % (uint32_t)channels;
    /* [start] */
    /* [read] */
    for (block = 0; block < BLOCKS; ++block) {
        uint32_t read = 0, i;
        if (!KVD4093_ReadDeviceAD(card, samples, BLOCK_SAMPLES, &read) || read != BLOCK_SAMPLES) {
            KVD4093_ReleaseDeviceAD(card);
            KVD4093_ReleaseDevice(card);
            return fail("KVD4093_ReadDeviceAD");
        }
        for (i = 0; i < read; ++i) {
            if (samples[i] < low[position]) low[position] = samples[i];
            if (samples[i] > high[position]) high[position] = samples[i];
            sum[position] += samples[i];
            ++count[position];
            position = (position + 1) % (uint32_t)channels;
        }
    }
    /* [read] */
    /* [stop] */
    if (!KVD4093_ReleaseDeviceAD(card)) {
        KVD4093_ReleaseDevice(card);
        return fail("KVD4093_InitDeviceAD"); /* the stop logs under the start's name */
    }
    if (!KVD4093_ReleaseDevice(card))
        return fail("KVD4093_ReleaseDevice");
    /* [stop] */

    printf("%d samples of channels %d-%d at %d samples/s\n", BLOCKS * BLOCK_SAMPLES, (int)para.FirstChannel,
           (int)para.LastChannel, (int)para.Frequency);
    printf("channel    min    max      mean\n");
    for (c = 0; c < channels; ++c)
        printf("%7d %6u %6u %9.2f\n", (int)(para.FirstChannel + c), (unsigned)low[c], (unsigned)high[c],
               (double)sum[c] / (double)count[c]);
    return 0;
}
