/*
 * A typical acquisition, as an application written against KVD4093.h does it:
 * open card 0, load its AD parameters, start, read blocks, stop, close.
 * Linked through the import library only. Exits 0 when every step worked and
 * every read delivered the samples asked for.
 */
#include <stdio.h>

#include "KVD4093.h"

enum { kBlocks = 8, kBlockSamples = 4096, kChannels = 4, kFrequency = 1000000 };

static int fail(const char *function) {
    char message[256];
    KVD4093_GetLastErrorEx(function, message);
    fprintf(stderr, "%s failed: %s\n", function, message);
    return 1;
}

int main(void) {
    static uint16_t samples[kBlockSamples];
    ADPara para;
    uint32_t read = 0;
    unsigned long total = 0;
    int block;

    KVD4093_HANDLE device = KVD4093_CreateDevice(0);
    if (device == KVD4093_INVALID_HANDLE || device == NULL)
        return fail("KVD4093_CreateDevice");
    if (!KVD4093_LoadParaAD(device, &para))
        return fail("KVD4093_LoadParaAD");
    para.FirstChannel = 0;
    para.LastChannel = kChannels - 1;
    para.Frequency = kFrequency;
    if (!KVD4093_InitDeviceAD(device, &para))
        return fail("KVD4093_InitDeviceAD");
    for (block = 0; block < kBlocks; ++block) {
        if (!KVD4093_ReadDeviceAD(device, samples, kBlockSamples, &read))
            return fail("KVD4093_ReadDeviceAD");
        if (read != kBlockSamples) {
            fprintf(stderr, "block %d: %u samples, not %d\n", block, (unsigned)read, kBlockSamples);
            return 1;
        }
        total += read;
    }
    if (!KVD4093_ReleaseDeviceAD(device))
        return fail("KVD4093_ReleaseDeviceAD");
    if (!KVD4093_ReleaseDevice(device))
        return fail("KVD4093_ReleaseDevice");
    printf("read %lu samples of %d channels\n", total, kChannels);
    return total == (unsigned long)kBlocks * kBlockSamples ? 0 : 1;
}
