/**
 * \file KVD4093_posix.h
 * \brief The POSIX companion of KVD4093.h: resume threads, set and wait for events.
 *
 * On Windows the handles of KVD4093_CreateVBThread and
 * KVD4093_CreateSystemEvent are the OS's own, and callers use ResumeThread,
 * SetEvent and WaitForSingleObject on them. POSIX has no such handles: on
 * POSIX they are objects of the library, and these three functions do what a
 * Windows caller gets from the OS. Close either kind of handle with
 * KVD4093_ReleaseSystemEvent.
 *
 * A thread made by KVD4093_CreateVBThread does not run until
 * KVD4093_ResumeThread. KVD4093_TerminateVBThread ends a thread that has not
 * been resumed (it never runs) and fails (0) for a thread that runs: a
 * running thread cannot be stopped safely on POSIX, so it runs on until its
 * routine returns. Closing the handle of a thread that was never resumed
 * ends it; closing the handle of a running thread lets it run to its end.
 *
 * Exported from libkvd4093.so only; there is no Windows counterpart.
 * \ref windows-and-linux lists the other differences.
 */
#ifndef KVD4093_POSIX_H
#define KVD4093_POSIX_H

#if defined(_WIN32)
#error "KVD4093_posix.h is for POSIX systems; on Windows use ResumeThread, SetEvent and WaitForSingleObject"
#endif

#include "KVD4093.h"

/** \brief The timeout of KVD4093_WaitEvent() that never passes. */
#define KVD4093_WAIT_FOREVER 0xFFFFFFFFu

#ifdef __cplusplus
extern "C" {
#endif

/**
 * \brief Lets a thread made by KVD4093_CreateVBThread() run.
 *
 * Its routine starts now; its exit code is 259 until the routine returns, then the routine's
 * result.
 *
 * \param hThread A thread handle of KVD4093_CreateVBThread().
 * \return 1 when the thread runs now or was let run before; 0 when it was terminated before it
 *         ran or \p hThread is not a live thread handle of the library.
 * \par Threads
 * Any thread.
 */
KVD4093_API int32_t KVD4093_CALL KVD4093_ResumeThread(KVD4093_HANDLE hThread);

/**
 * \brief Signals an event made by KVD4093_CreateSystemEvent().
 *
 * One waiter (the one waiting now, or the next to wait) returns 1 and resets it. Setting it again
 * before anyone waits changes nothing.
 *
 * \param hEvent An event handle of KVD4093_CreateSystemEvent().
 * \return 1, or 0 when \p hEvent is not a live event handle of the library.
 * \par Threads
 * Any thread: this is how one thread wakes another.
 */
KVD4093_API int32_t KVD4093_CALL KVD4093_SetEvent(KVD4093_HANDLE hEvent);

/**
 * \brief Waits until an event is signalled, at most a given time.
 *
 * \param hEvent        An event handle of KVD4093_CreateSystemEvent().
 * \param nMilliseconds The longest wait; #KVD4093_WAIT_FOREVER waits without limit, 0 only tests.
 * \return 1 when it was signalled (it is reset again); 0 when the time passed first; -1 when
 *         \p hEvent is not a live event handle of the library.
 * \par Threads
 * Blocks the calling thread.
 */
KVD4093_API int32_t KVD4093_CALL KVD4093_WaitEvent(KVD4093_HANDLE hEvent, uint32_t nMilliseconds);

#ifdef __cplusplus
}
#endif

#endif /* KVD4093_POSIX_H */
