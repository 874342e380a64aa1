/* Streams 2000 scans of channels 0 to 3 from card 0 through the installed
 * stream library and prints what it got: "4 channels, 2000 scans in order"
 * when every block followed the one before without a gap. */
#include <stdint.h>
#include <stdio.h>

#include <KVD4093_stream.h>

#define WANTED 2000
#define AT_MOST 500

int main(void) {
    static uint16_t samples[AT_MOST * 4];
    KVD4093_STREAM_CONFIG config = {0};
    config.cards = "0";
    config.firstChannel = 0;
    config.lastChannel = 3;
    config.scanRate = 10000.0;
    config.onOverrun = KVD4093_STREAM_STOP;
    KVD4093_STREAM *stream = KVD4093_OpenStream(&config);
    if (stream == NULL || !KVD4093_StartStream(stream)) {
        fprintf(stderr, "%s\n", KVD4093_GetStreamError(stream));
        KVD4093_CloseStream(stream);
        return 1;
    }
    int64_t taken = 0;
    int inOrder = 1;
    while (taken < WANTED) {
        const uint32_t asked = (uint32_t)(WANTED - taken < AT_MOST ? WANTED - taken : AT_MOST);
        KVD4093_STREAM_BLOCK block;
        const int64_t scans = KVD4093_ReadStream(stream, samples, asked, 5000, &block);
        if (scans <= 0)
            break;
        inOrder = inOrder && block.firstScan == taken && block.scansLostBefore == 0;
        taken += scans;
    }
    const int32_t channels = KVD4093_GetStreamChannels(stream);
    KVD4093_StopStream(stream);
    KVD4093_CloseStream(stream);
    printf("%d channels, %lld scans%s\n", (int)channels, (long long)taken, inOrder ? " in order" : ", not in order");
    return taken == WANTED && inOrder ? 0 : 1;
}
