/*
 * digital_io.c - digital outputs, digital inputs and a DA output.
 *
 * Walks a single 1 across the 16 digital outputs and reads the inputs after
 * each step; with each output wired to the input of the same number (as on a
 * virtual card, whose outputs loop back) the inputs show the same pattern.
 * Then writes a DA value. Exits 0 when every call succeeded and every input
 * pattern matched, 1 otherwise.
 */
#include <stdint.h>
#include <stdio.h>

#include "KVD4093.h"

#define LINES 16

static int fail(const char *function) {
    char message[512];
    KVD4093_GetLastErrorEx(function, message);
    fprintf(stderr, "%s failed: %s\n", function, message);
    return 1;
}

int main(void) {
    uint8_t outputs[LINES], inputs[LINES];
    int line, n, mismatches = 0;
    KVD4093_HANDLE card = KVD4093_CreateDevice(0);
    if (card == KVD4093_INVALID_HANDLE || card == NULL)
        return fail("KVD4093_CreateDevice");

    /* [digital] */
    for (line = 0; line < LINES; ++line) {
        for (n = 0; n < LINES; ++n)
            outputs[n] = (uint8_t)(n == line);
        if (!KVD4093_SetDeviceDO(card, outputs)) {
            KVD4093_ReleaseDevice(card);
            return fail("KVD4093_SetDeviceDO");
        }
        if (!KVD4093_GetDeviceDI(card, inputs)) {
            KVD4093_ReleaseDevice(card);
            fprintf(stderr, "KVD4093_GetDeviceDI failed\n"); /* a failed status read is not logged */
            return 1;
        }
        for (n = 0; n < LINES; ++n)
            if (inputs[n] != outputs[n]) {
                fprintf(stderr, "output %d on: input %d reads %d\n", line, n, inputs[n]);
                ++mismatches;
            }
    }
    /* [digital] */
    printf("16 output patterns written, inputs matched %s\n", mismatches == 0 ? "every time" : "NOT every time");

    /* [da] */
    /* Setup code 0, value 2048 (mid-scale of 12 bits) on DA channel 0. */
    if (!KVD4093_WriteDeviceDA(card, 0, 2048, 0)) {
        KVD4093_ReleaseDevice(card);
        return fail("KVD4093_WriteDeviceDA");
    }
    /* [da] */
    printf("DA channel 0 set to 2048\n");
    if (!KVD4093_ReleaseDevice(card))
        return fail("KVD4093_ReleaseDevice");
    return mismatches == 0 ? 0 : 1;
}
