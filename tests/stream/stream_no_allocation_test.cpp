// Once a stream runs, nothing is allocated per block, on the reader thread
// or in the program's reads: every operator new of the process counts.
#include <atomic>
#include <cstdlib>
#include <new>

#include "stream/stream_support.h"

namespace {

std::atomic<bool> g_counting{false};
std::atomic<long> g_counted{0};

} // namespace

// The replacements pair malloc with free themselves; the compiler cannot see
// that through inlined new-expressions.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

void *operator new(std::size_t size) {
    if (g_counting.load(std::memory_order_relaxed))
        g_counted.fetch_add(1, std::memory_order_relaxed);
    if (void *p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
void operator delete(void *p) noexcept { std::free(p); }
void operator delete(void *p, std::size_t) noexcept { std::free(p); }

namespace kvd::testing {
namespace {

TEST_F(StreamTest, TakingBlocksAllocatesNothing) {
    KVD4093_STREAM_CONFIG c = config(0, 3, 100000);
    c.onOverrun = KVD4093_STREAM_CONTINUE;
    g_counted = 0;
    g_counting = true;
    KVD4093_STREAM *stream = started(c);
    g_counting = false;
    ASSERT_NE(stream, nullptr);
    EXPECT_GT(g_counted.load(), 0) << "the open and the start make the stream and its buffer";
    static uint16_t samples[5000 * 4];
    int64_t taken = 0;
    while (taken < 20000) // the reader's first blocks, its thread started
        taken += KVD4093_ReadStream(stream, samples, 5000, 1000, nullptr);
    g_counted = 0;
    g_counting = true;
    for (int read = 0; read < 200; ++read)
        taken += KVD4093_ReadStream(stream, samples, 5000, 1000, nullptr);
    g_counting = false;
    EXPECT_GE(taken, 20000 + 200 * 5000 - 200) << "every read took scans";
    EXPECT_EQ(g_counted.load(), 0);
}

} // namespace
} // namespace kvd::testing
