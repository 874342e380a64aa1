/**
 * \file KVD4093_stream.h
 * \brief Background acquisition: a stream reads a card on a thread of its
 * own into a bounded buffer of whole scans, and the program takes them when
 * it likes.
 *
 * The stream library (`KVD4093Stream.dll`, `libkvd4093stream.so`) is built on
 * the card library's exported functions alone. A stream opens its card (or
 * takes one the program opened), sets the acquisition up with
 * KVD4093_InitDeviceAD(), and its reader thread calls KVD4093_ReadDeviceAD()
 * back to back, in blocks of about 50 ms, into a queue of blocks made once
 * when the stream starts: nothing is allocated per block.
 *
 *     KVD4093_STREAM_CONFIG config = {"0", 0, 3, 10000.0, NULL, 2.0, KVD4093_STREAM_STOP};
 *     KVD4093_STREAM *stream = KVD4093_OpenStream(&config);
 *     KVD4093_StartStream(stream);
 *     for (;;) {
 *         KVD4093_STREAM_BLOCK block;
 *         int64_t scans = KVD4093_ReadStream(stream, samples, 1000, -1, &block);
 *         if (scans < 0) break;          // ended, and everything read was taken
 *         ...                            // scans x 4 samples, scan block.firstScan first
 *     }
 *     KVD4093_CloseStream(stream);
 *
 * Loss is never silent. When the program takes the scans more slowly than the
 * card delivers them and the buffer is full, the stream either ends
 * (#KVD4093_STREAM_STOP: status `overrun`, every block read still readable) or
 * drops whole blocks and counts them (#KVD4093_STREAM_CONTINUE): the next
 * block read says how many scans were lost just before it.
 *
 * Indexes. Scan 0 is the first whole scan after the set-up's 512 discarded
 * samples; a scan's index counts every scan the card converted since, the
 * dropped ones included, so index / scan rate is its time after scan 0.
 *
 * Results. The calls that answer yes or no return 1 or 0; after a 0 (and after
 * a NULL from KVD4093_OpenStream()) KVD4093_GetStreamError() says why. A NULL
 * or closed stream is refused, never dereferenced.
 *
 * Groups. `cards` may list up to #KVD4093_STREAM_MOST_CARDS cards ("id:7,id:9"
 * or "0,1"): the first drives the clock, the others convert on the clock they
 * receive, and the stream hands out scan k of every card as one scan, the
 * channels of the first card first (KVD4093_OpenStreamOnDevices() does the
 * same on cards the program opened). Indexes, gaps, the status and the start
 * time are the group's: a scan lost on one card is lost for the whole group.
 * KVD4093_GetStreamCards() lists the cards.
 *
 * Reconnection. With `reconnectSeconds`, a card pulled out (a read fails and
 * the card is gone from the device list) does not end the stream: the stream
 * releases the dead handle, looks for a card of the same physical ID every
 * quarter second, opens it, writes back the DA values and digital outputs
 * last written with KVD4093_WriteStreamDA() and KVD4093_SetStreamDO(), sets
 * it up with the same record and starts it again (a group: every card, in the
 * order of the start). The scans its clock would have given meanwhile, by the
 * host's clock, are a gap (#KVD4093_STREAM_GAP_DISCONNECTED), and each start
 * is a segment (KVD4093_GetStreamSegments()). A card that is not back in time
 * ends the stream (status `failed`) with "card ID 7 lost at scan 12000: not
 * back within 60 s". A card of another physical ID is never taken for it.
 *
 * Threads. Every call may come from any thread. KVD4093_StopStream() may come
 * while another thread waits in KVD4093_ReadStream() (the read returns what is
 * left, then -1), and from a thread that watches for a signal. A stream that
 * another thread is still using may be closed: that thread's call returns its
 * failure value.
 */
#ifndef KVD4093_STREAM_H
#define KVD4093_STREAM_H

#include <stdint.h>

#include "KVD4093.h"

/**
 * \def KVD4093_STREAM_API
 * \brief Marks a function of the stream library: imported from
 * `KVD4093Stream.dll` on Windows (unless `KVD4093_STATIC` is defined), default
 * visibility in `libkvd4093stream.so`. Every function has the card library's
 * calling convention, #KVD4093_CALL.
 */
#if defined(_WIN32)
#  if defined(KVD4093_BUILDING_STREAM_LIBRARY) || defined(KVD4093_STATIC)
#    define KVD4093_STREAM_API
#  else
#    define KVD4093_STREAM_API __declspec(dllimport)
#  endif
#else
#  if defined(KVD4093_BUILDING_STREAM_LIBRARY) && defined(__GNUC__)
#    define KVD4093_STREAM_API __attribute__((visibility("default")))
#  else
#    define KVD4093_STREAM_API
#  endif
#endif

#ifdef __cplusplus
extern "C" {
#endif

/** \brief A full buffer ends the stream: every block read stays readable. */
#define KVD4093_STREAM_STOP     0
/** \brief A full buffer drops the block just read; the next block read counts the scans lost. */
#define KVD4093_STREAM_CONTINUE 1

/** \brief No scans were lost before this block. */
#define KVD4093_STREAM_GAP_NONE         0
/** \brief The scans before this block were dropped because the buffer was full. */
#define KVD4093_STREAM_GAP_OVERRUN      1
/** \brief The scans before this block were not read because the card was away. */
#define KVD4093_STREAM_GAP_DISCONNECTED 2

/**
 * \brief `reconnectSeconds` that waits for a card pulled out without limit
 * (any value below 0 does).
 */
#define KVD4093_STREAM_RECONNECT_FOREVER (-1.0f)

/** \brief A group's cards share the first card's clock (the default). */
#define KVD4093_STREAM_CLOCK_SHARED      0
/**
 * \brief Every card of a group on its own clock, started one after the other
 * in the order of the list: the scans of two cards taken at the same index
 * are as far apart as their starts and drift apart by their clocks' offsets
 * (a wiring check compares such a group with a shared clock).
 */
#define KVD4093_STREAM_CLOCK_INDEPENDENT 1

/** \brief The most cards a group takes. */
#define KVD4093_STREAM_MOST_CARDS 8

/**
 * \brief The least time a card of a group that takes the clock may deliver
 * nothing, in seconds, before the stream ends and says the card received no
 * clock: the wait is this or ten blocks (KVD4093_STREAM_BUFFER), whichever is
 * longer.
 */
#define KVD4093_STREAM_NO_CLOCK_SECONDS 2.0

/** \brief An open stream. Made by KVD4093_OpenStream(), freed by KVD4093_CloseStream(). */
typedef struct KVD4093_STREAM KVD4093_STREAM;

/** \brief Where a stretch of scans handed out by the stream belongs. */
typedef struct KVD4093_STREAM_BLOCK {
    int64_t firstScan;       /**< the index since the start of the first scan */
    int64_t scansLostBefore; /**< scans lost just before the first scan: the gap is firstScan - scansLostBefore to firstScan - 1 */
    int32_t gapCause;        /**< why they were lost: KVD4093_STREAM_GAP_NONE when scansLostBefore is 0 */
    int32_t reserved;        /**< 0 */
} KVD4093_STREAM_BLOCK;

/**
 * \brief Called on the stream's reader thread with every `callbackScans`
 * scans as they are read, in order, before any KVD4093_ReadStream() takes
 * them (both see every scan).
 *
 * The scans before a gap and at the end may be fewer. \p samples holds
 * \p scans whole scans and is valid during the call only. The callback may
 * call KVD4093_StopStream() and the status calls; it must not close the
 * stream, and while it runs the reader does not read.
 */
typedef void (KVD4093_CALL *KVD4093_STREAM_CALLBACK)(KVD4093_STREAM *stream, const uint16_t *samples,
                                                      uint32_t scans, const KVD4093_STREAM_BLOCK *block,
                                                      void *context);

/**
 * \brief What a stream acquires. Fields left 0 take their defaults, so a
 * configuration that names only the first seven fields is complete.
 */
typedef struct KVD4093_STREAM_CONFIG {
    const char *cards;       /**< "0": the card of logical number 0; "id:7": the card of physical ID 7 */
    int32_t firstChannel;    /**< the first AD channel of every scan */
    int32_t lastChannel;     /**< the last AD channel of every scan, firstChannel or above */
    double scanRate;         /**< scans a second, above 0; the card converts scanRate x channels samples a second */
    const ADPara *record;    /**< every other field of the AD record; NULL: the card's saved settings */
    double bufferSeconds;    /**< how long of scans the buffer holds; 0: 2 s */
    int32_t onOverrun;       /**< KVD4093_STREAM_STOP or KVD4093_STREAM_CONTINUE */
    float reconnectSeconds;  /**< a card pulled out: how long to wait for it to come back (#KVD4093_STREAM_RECONNECT_FOREVER: no limit); 0: the stream ends */
    int64_t scans;           /**< scans to acquire, the dropped ones included; 0: until stopped */
    uint32_t callbackScans;  /**< with a callback: how many scans each call hands on; 0: about 100 ms of scans */
    uint32_t reserved1;      /**< 0 */
    KVD4093_STREAM_CALLBACK callback; /**< NULL: none */
    void *callbackContext;   /**< handed to the callback */
    int32_t clockMode;       /**< a group: KVD4093_STREAM_CLOCK_SHARED (0) or KVD4093_STREAM_CLOCK_INDEPENDENT */
    int32_t clockOutputCode; /**< a shared clock: the driving card's `bClockOutput`; 0: 1, our cards' code for the clock out */
    int32_t clockInputCode;  /**< a shared clock: the other cards' `ClockSource`; 0: 1, our cards' code for the clock received */
    int32_t reserved2;       /**< 0 */
} KVD4093_STREAM_CONFIG;

/**
 * \brief One start of a stream's cards: the first, and one after every
 * reconnection. Filled by KVD4093_GetStreamSegments().
 */
typedef struct KVD4093_STREAM_SEGMENT {
    int64_t firstScan;       /**< the index of the segment's first scan */
    int64_t lostAtScan;      /**< the first scan the card lost did not give: the gap is lostAtScan to firstScan - 1; 0 for the first segment */
    int64_t utcNs;           /**< the start, read just before the (driving) card started: UTC in nanoseconds since 1970 */
    int64_t monotonicNs;     /**< the same instant on the monotonic clock, in nanoseconds */
    int32_t lostCardId;      /**< the physical ID of the card whose loss ended the segment before; -1 for the first segment */
    int32_t reserved;        /**< 0 */
} KVD4093_STREAM_SEGMENT;

/** \brief One card of a stream: its handle and its physical ID. */
typedef struct KVD4093_STREAM_CARD {
    KVD4093_HANDLE device;   /**< the card library's handle */
    int32_t physicalId;      /**< the card's physical ID, 0 to 255, which the messages name */
    int32_t reserved;        /**< 0 */
} KVD4093_STREAM_CARD;

/** \brief The state of a stream, at one instant. */
typedef struct KVD4093_STREAM_STATUS {
    int64_t scansRead;       /**< scans read from the card and queued */
    int64_t scansLost;       /**< scans dropped (and, after a disconnection, not read) */
    int64_t backlog;         /**< scans the card's clock owes the reads now: what waits in the card's own memory */
    int64_t largestBacklog;  /**< the largest backlog since the start */
    int64_t scansQueued;     /**< scans read and not taken yet */
    int32_t running;         /**< 1 while the reader reads */
    int32_t overrun;         /**< 1 once the stream ended because the buffer was full (KVD4093_STREAM_STOP) */
    int32_t failed;          /**< 1 once the stream ended on a failure: KVD4093_GetStreamError() says which */
    int32_t waitingForCard;  /**< 1 while a card pulled out is waited for (reconnectSeconds) */
} KVD4093_STREAM_STATUS;

/**
 * \brief The most memory a stream's buffer takes, in bytes (256 MiB): a
 * configuration whose `bufferSeconds` would need more gets a shorter buffer,
 * and KVD4093_GetStreamBuffer() says so (`cut`).
 */
#define KVD4093_STREAM_MOST_BUFFER_BYTES (256 * 1024 * 1024)

/**
 * \brief The shape of a stream's buffer, fixed when the stream opens: blocks
 * of about 50 ms (at most 1 MiB each), as many as `bufferSeconds` asks for
 * within #KVD4093_STREAM_MOST_BUFFER_BYTES. Filled by KVD4093_GetStreamBuffer().
 */
typedef struct KVD4093_STREAM_BUFFER {
    uint32_t blockScans;     /**< scans in a block: every read of the card but the last fills one */
    uint32_t blocks;         /**< blocks the buffer holds for the program before it is full */
    double seconds;          /**< how long of scans the buffer holds: blocks x blockScans / the scan rate */
    double scanRate;         /**< scans a second as the card runs: 10 MHz / trunc(10 MHz / Frequency) / channels */
    int64_t bytes;           /**< the memory the buffer takes when the stream starts (two blocks more than `blocks`; a group adds a buffer of the same blocks for each card) */
    int32_t cut;             /**< 1 when `bufferSeconds` asked for more than #KVD4093_STREAM_MOST_BUFFER_BYTES */
    int32_t reserved;        /**< 0 */
} KVD4093_STREAM_BUFFER;

/**
 * \brief Opens the card of \p config->cards and checks the configuration.
 * \param config What to acquire; read during the call only.
 * \return The stream, not started; NULL on failure (a bad configuration, a
 *         card that does not open), with the reason from
 *         KVD4093_GetStreamError(NULL) on the same thread.
 */
KVD4093_STREAM_API KVD4093_STREAM *KVD4093_CALL KVD4093_OpenStream(const KVD4093_STREAM_CONFIG *config);

/**
 * \brief The same on a card the program opened itself (\p config->cards is
 * not read). The stream uses the handle until it is closed and never releases
 * it: the program may use it meanwhile for what does not touch the AD
 * converter (digital and analog outputs, digital inputs) and releases it
 * after KVD4093_CloseStream().
 * \param hDevice An open card, from KVD4093_CreateDevice() or KVD4093_CreateDeviceEx().
 * \param config What to acquire; read during the call only.
 * \return The stream, not started; NULL on failure, with the reason from
 *         KVD4093_GetStreamError(NULL) on the same thread.
 */
KVD4093_STREAM_API KVD4093_STREAM *KVD4093_CALL KVD4093_OpenStreamOnDevice(KVD4093_HANDLE hDevice,
                                                                         const KVD4093_STREAM_CONFIG *config);

/**
 * \brief A group on cards the program opened itself, in the order given: the
 * first drives the clock (\p config->cards is not read). The stream uses the
 * handles as KVD4093_OpenStreamOnDevice() does; every card gets the
 * configuration's channels, rate and record (NULL: the first card's saved
 * settings) with its clock fields set for its place in the group.
 * \param cards The cards; read during the call only.
 * \param count How many, 1 to #KVD4093_STREAM_MOST_CARDS.
 * \param config What to acquire; read during the call only.
 * \return The stream, not started; NULL on failure (the same card twice, a
 *         handle that is not an open card), with the reason from
 *         KVD4093_GetStreamError(NULL) on the same thread.
 */
KVD4093_STREAM_API KVD4093_STREAM *KVD4093_CALL KVD4093_OpenStreamOnDevices(const KVD4093_STREAM_CARD *cards,
                                                                          int32_t count,
                                                                          const KVD4093_STREAM_CONFIG *config);

/**
 * \brief Sets the acquisition up (KVD4093_InitDeviceAD(), whose first read
 * waits for 512 samples) and starts the reader; once per stream.
 *
 * A group with a shared clock starts the cards that take the clock first,
 * each setting up on a thread of its own and waiting for ticks, then the
 * driving card, and returns once every set-up has returned. A card whose
 * set-up gets no samples within the no-clock wait
 * (#KVD4093_STREAM_NO_CLOCK_SECONDS) fails the start with a message naming
 * it: "card ID 9 received no clock: is its clock input wired to card ID 7's
 * clock output?".
 * \param stream An open stream.
 * \return 1 when the reader runs; 0 when the set-up failed or the stream was
 *         started, stopped or closed already.
 */
KVD4093_STREAM_API int32_t KVD4093_CALL KVD4093_StartStream(KVD4093_STREAM *stream);

/**
 * \brief Copies up to \p maxScans whole scans into \p samples (room for
 * \p maxScans x channels), waiting up to \p timeoutMs milliseconds (-1: no
 * limit) for the first. Never spans a gap: the scans copied follow each other.
 * \param stream An open stream.
 * \param samples Receives the scans, channel after channel in each scan.
 * \param maxScans The most scans to copy.
 * \param timeoutMs How long to wait for the first scan; -1: no limit, 0: not at all.
 * \param block Receives where the scans belong; may be NULL.
 * \return The scans copied; 0 after a time-out; -1 when the stream has ended
 *         and every scan read was taken, or on a failure (NULL samples, a
 *         closed stream).
 */
KVD4093_STREAM_API int64_t KVD4093_CALL KVD4093_ReadStream(KVD4093_STREAM *stream, uint16_t *samples,
                                                          uint32_t maxScans, int32_t timeoutMs,
                                                          KVD4093_STREAM_BLOCK *block);

/**
 * \brief Fills \p status.
 * \param stream An open stream.
 * \param status Receives the stream's state.
 * \return 1, or 0 for a NULL argument or a closed stream.
 */
KVD4093_STREAM_API int32_t KVD4093_CALL KVD4093_GetStreamStatus(KVD4093_STREAM *stream,
                                                               KVD4093_STREAM_STATUS *status);

/**
 * \brief Stops the card (KVD4093_ReleaseDeviceAD(), sent whatever happens)
 * and the reader. The scans read before stay readable. Any thread, any
 * number of times.
 * \param stream An open stream.
 * \return 1 when the card took its stop (or was never started); 0 otherwise.
 */
KVD4093_STREAM_API int32_t KVD4093_CALL KVD4093_StopStream(KVD4093_STREAM *stream);

/**
 * \brief Stops the stream if it runs, releases the card it opened, frees the
 * stream. A read waiting on another thread returns -1. NULL is ignored, and
 * so is a close from the stream's own callback.
 * \param stream An open stream, or NULL.
 */
KVD4093_STREAM_API void KVD4093_CALL KVD4093_CloseStream(KVD4093_STREAM *stream);

/**
 * \brief The last failure of \p stream (NULL: the last failed
 * KVD4093_OpenStream() on this thread), in English, UTF-8, with the card
 * library's own message beside it where there is one; "" when there was none.
 * Valid until the next call on the same stream.
 * \param stream An open stream, or NULL.
 * \return The text; for a closed or unknown stream, a text that says so.
 */
KVD4093_STREAM_API const char *KVD4093_CALL KVD4093_GetStreamError(KVD4093_STREAM *stream);

/**
 * \brief Samples in a scan.
 * \param stream An open stream.
 * \return lastChannel - firstChannel + 1, times the cards of a group; 0 for
 *         a NULL or closed stream.
 */
KVD4093_STREAM_API int32_t KVD4093_CALL KVD4093_GetStreamChannels(KVD4093_STREAM *stream);

/**
 * \brief The start, read just before the card was started: UTC in nanoseconds
 * since 1970, and the same instant on the monotonic clock (CLOCK_MONOTONIC on
 * Linux, the performance counter on Windows) in nanoseconds.
 * \param stream An open stream.
 * \param utcNs Receives the UTC time.
 * \param monotonicNs Receives the monotonic time.
 * \return 1; 0 before the start or for a NULL argument.
 */
KVD4093_STREAM_API int32_t KVD4093_CALL KVD4093_GetStreamStartTime(KVD4093_STREAM *stream, int64_t *utcNs,
                                                                  int64_t *monotonicNs);

/**
 * \brief The cards of the stream, the driving card first.
 * \param stream An open stream.
 * \param cards Receives up to \p room cards; may be NULL when \p room is 0.
 * \param room The cards \p cards has room for.
 * \return How many cards the stream has (1 unless a group); 0 for a bad stream.
 */
KVD4093_STREAM_API int32_t KVD4093_CALL KVD4093_GetStreamCards(KVD4093_STREAM *stream, KVD4093_STREAM_CARD *cards,
                                                              int32_t room);

/**
 * \brief The card library's handle of the stream's card (of a group: the
 * driving card), for its outputs and inputs. After a reconnection it is the
 * card opened again: write the outputs with KVD4093_WriteStreamDA() and
 * KVD4093_SetStreamDO(), which a reconnection writes back.
 * \param stream An open stream.
 * \return The handle; NULL for a bad stream.
 */
KVD4093_STREAM_API KVD4093_HANDLE KVD4093_CALL KVD4093_GetStreamDevice(KVD4093_STREAM *stream);

/**
 * \brief The whole AD record the stream sets (or set) up its card with: the
 * configuration's record or the saved settings, with its channels and rate
 * (of a group: the driving card's, clock fields included).
 * \param stream An open stream.
 * \param record Receives the record.
 * \return 1, or 0 for a NULL argument or a closed stream.
 */
KVD4093_STREAM_API int32_t KVD4093_CALL KVD4093_GetStreamRecord(KVD4093_STREAM *stream, ADPara *record);

/**
 * \brief Writes one DA channel of the stream's card (of a group: the driving
 * card), as KVD4093_WriteDeviceDA does on its handle, and remembers the
 * setup code and value the card took for the channel.
 * \param stream An open stream.
 * \param nSetupCode, nDAValue, nChannel As KVD4093_WriteDeviceDA takes them.
 * \return KVD4093_WriteDeviceDA's result; 0 for a bad stream. A failed write
 *         is not remembered.
 */
KVD4093_STREAM_API int32_t KVD4093_CALL KVD4093_WriteStreamDA(KVD4093_STREAM *stream, int32_t nSetupCode,
                                                             int32_t nDAValue, int32_t nChannel);

/**
 * \brief Sets the 16 digital outputs of the stream's card (of a group: the
 * driving card), as KVD4093_SetDeviceDO does on its handle, and remembers them.
 * \param stream An open stream.
 * \param pDOStates 16 bytes, as KVD4093_SetDeviceDO takes them.
 * \return KVD4093_SetDeviceDO's result; 0 for a bad stream or a NULL \p pDOStates.
 *         A failed write is not remembered.
 */
KVD4093_STREAM_API int32_t KVD4093_CALL KVD4093_SetStreamDO(KVD4093_STREAM *stream, const uint8_t *pDOStates);

/**
 * \brief The segments of the stream so far, the first start first: one more
 * after every reconnection (see `reconnectSeconds`).
 * \param stream An open stream.
 * \param segments Receives up to \p room segments; may be NULL when \p room is 0.
 * \param room The segments \p segments has room for.
 * \return How many segments there are (0 before the start); -1 for a bad stream.
 */
KVD4093_STREAM_API int32_t KVD4093_CALL KVD4093_GetStreamSegments(KVD4093_STREAM *stream,
                                                                 KVD4093_STREAM_SEGMENT *segments, int32_t room);

/**
 * \brief Fills \p buffer with the shape of the stream's buffer (known from the
 * open on, so a program can warn of a cut buffer before it starts).
 * \param stream An open stream.
 * \param buffer Receives the shape.
 * \return 1, or 0 for a NULL argument or a closed stream.
 */
KVD4093_STREAM_API int32_t KVD4093_CALL KVD4093_GetStreamBuffer(KVD4093_STREAM *stream,
                                                               KVD4093_STREAM_BUFFER *buffer);

#ifdef __cplusplus
}
#endif

#endif /* KVD4093_STREAM_H */
