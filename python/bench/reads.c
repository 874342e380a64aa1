/*
 * The reads Card.acquire makes, made from C against the public header: open
 * logical number 0, start from its saved settings with channels 0 to
 * CHANNELS-1 at RATE, drop the rest of the set-up's partial scan, read SCANS
 * whole scans into one buffer in reads of about 50 ms (at most 1 MiB), stop.
 * With "stream" first, the reads Stream.read makes instead: a stream of the
 * stream library on the open card (its reader thread reads the card into its
 * buffer of 2 s), and KVD4093_ReadStream() taking SCANS scans into one
 * buffer. Prints the samples a second from before the buffer is allocated
 * (and the stream opened) until the card is stopped, of the second of two
 * acquisitions.
 *
 * The buffer is allocated as numpy allocates an array's data on Linux:
 * malloc, then, for 4 MiB and more, transparent huge pages asked for with
 * madvise from the first page boundary on. Filling fresh memory is most of the time either side
 * spends, and huge pages make it several times cheaper.
 *
 *   reads [stream] SCANS CHANNELS RATE
 */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <sys/mman.h>

#include "KVD4093.h"
#include "KVD4093_stream.h"

enum { SET_UP_SAMPLES = 512, MOST_SAMPLES_PER_READ = 1 << 19 };

enum { PAGE = 4096, HUGE_PAGES_FROM = 4 << 20 };

static uint16_t *new_samples(uint64_t count) {
    const size_t size = count * sizeof(uint16_t);
    uint8_t *memory = malloc(size ? size : 1);
    if (memory != NULL && size >= HUGE_PAGES_FROM) {
        const size_t offset = (PAGE - (uintptr_t)memory % PAGE) % PAGE;
        madvise(memory + offset, size - offset, MADV_HUGEPAGE);
    }
    return (uint16_t *)memory;
}

static double seconds_now(void) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (double)now.tv_sec + (double)now.tv_nsec / 1e9;
}

static uint32_t samples_per_read(int32_t rate) {
    double samples = rate * 0.05;
    if (samples < 1)
        samples = 1;
    if (samples > MOST_SAMPLES_PER_READ)
        samples = MOST_SAMPLES_PER_READ;
    return (uint32_t)samples;
}

/* Reads exactly `count` samples into `samples`; 0 when a read fails or brings nothing. */
static int read_all(KVD4093_HANDLE card, uint16_t *samples, uint64_t count, uint32_t per_read) {
    uint64_t done = 0;
    while (done < count) {
        uint32_t wanted = count - done < per_read ? (uint32_t)(count - done) : per_read;
        uint32_t got = 0;
        if (!KVD4093_ReadDeviceAD(card, samples + done, wanted, &got) || got == 0)
            return 0;
        done += got < wanted ? got : wanted;
    }
    return 1;
}

/* Card.acquire's reads; 1 when all went well. */
static int read_card(KVD4093_HANDLE card, uint16_t *samples, uint64_t scans, int32_t channels, int32_t rate) {
    ADPara para;
    KVD4093_LoadParaAD(card, &para);
    para.FirstChannel = 0;
    para.LastChannel = channels - 1;
    para.Frequency = rate;
    uint16_t skipped[256];
    const uint32_t skip = (uint32_t)((channels - SET_UP_SAMPLES % channels) % channels);
    const uint32_t per_read = samples_per_read(rate);
    int ok = KVD4093_InitDeviceAD(card, &para);
    ok = ok && read_all(card, skipped, skip, per_read) && read_all(card, samples, scans * channels, per_read);
    return KVD4093_ReleaseDeviceAD(card) && ok;
}

/* The stream of "reads stream": closed after the measurement, as Python's is. */
static KVD4093_STREAM *stream;

/* Stream.read's reads, up to the stop; 1 when all went well and no scan was lost. */
static int read_stream(KVD4093_HANDLE card, uint16_t *samples, uint64_t scans, int32_t channels, int32_t rate) {
    ADPara para;
    KVD4093_LoadParaAD(card, &para);
    KVD4093_STREAM_CONFIG config = {NULL, 0, channels - 1, (double)rate / channels, &para, 2.0, KVD4093_STREAM_CONTINUE};
    stream = KVD4093_OpenStreamOnDevice(card, &config);
    int ok = stream != NULL && KVD4093_StartStream(stream);
    for (uint64_t done = 0; ok && done < scans;) {
        KVD4093_STREAM_BLOCK block;
        const uint64_t wanted = scans - done < UINT32_MAX ? scans - done : UINT32_MAX;
        const int64_t got = KVD4093_ReadStream(stream, samples + done * channels, (uint32_t)wanted, -1, &block);
        ok = got > 0 && block.scansLostBefore == 0;
        done += ok ? (uint64_t)got : 0;
    }
    return KVD4093_StopStream(stream) && ok;
}

int main(int argc, char **argv) {
    const int streamed = argc == 5 && strcmp(argv[1], "stream") == 0;
    if (argc != 4 && !streamed) {
        fprintf(stderr, "usage: reads [stream] SCANS CHANNELS RATE\n");
        return 2;
    }
    const uint64_t scans = strtoull(argv[1 + streamed], NULL, 10);
    const int32_t channels = atoi(argv[2 + streamed]);
    const int32_t rate = atoi(argv[3 + streamed]);
    if (channels < 1 || channels > 256 || rate < 1) {
        fprintf(stderr, "reads: CHANNELS 1 to 256, RATE 1 or more\n");
        return 2;
    }
    KVD4093_HANDLE card = KVD4093_CreateDevice(0);
    if (card == KVD4093_INVALID_HANDLE || card == NULL) {
        fprintf(stderr, "reads: no card at logical number 0\n");
        return 1;
    }
    /* The first acquisition of a process faults in fresh memory, which the
     * Python runs, made one after the other in one process, find ready:
     * the second of two counts. */
    double rate_seen = 0;
    int ok = 1;
    for (int measurement = 0; ok && measurement < 2; measurement++) {
        const double start = seconds_now();
        uint16_t *samples = new_samples(scans * (uint64_t)channels);
        ok = samples != NULL && (streamed ? read_stream : read_card)(card, samples, scans, channels, rate);
        const double seconds = seconds_now() - start;
        KVD4093_CloseStream(stream);
        stream = NULL;
        free(samples);
        rate_seen = (double)(scans * channels) / seconds;
    }
    KVD4093_ReleaseDevice(card);
    if (!ok) {
        fprintf(stderr, "reads: the acquisition failed\n");
        return 1;
    }
    printf("%.0f\n", rate_seen);
    return 0;
}
