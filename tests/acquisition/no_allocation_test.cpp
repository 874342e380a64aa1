// The seven device functions of acquisition and I/O allocate nothing on their
// success paths: packets live on the stack, samples go straight to the caller.
// Every allocation of the calling thread counts: operator new and, where the
// C library lets them be replaced (glibc, without a sanitizer's own
// allocator), malloc, calloc and realloc, which libraries below call. On the
// USB card backend the same tests count what the backend allocates per request.
#include <atomic>
#include <cstdlib>
#include <new>

#include <gtest/gtest.h>

#include "platform/virtual/card_registry.h"
#include "support/test_support.h"

namespace {

// Counts the allocations made by a thread while it is counting.
thread_local bool t_counting = false;
std::atomic<long> g_counted{0};

} // namespace

// The replacements pair malloc with free themselves; the compiler cannot see
// that through inlined new-expressions.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

#if defined(__GLIBC__) && !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
extern "C" {
void *__libc_malloc(std::size_t size);
void *__libc_calloc(std::size_t count, std::size_t size);
void *__libc_realloc(void *block, std::size_t size);

void *malloc(std::size_t size) {
    if (t_counting)
        g_counted.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(size);
}
void *calloc(std::size_t count, std::size_t size) {
    if (t_counting)
        g_counted.fetch_add(1, std::memory_order_relaxed);
    return __libc_calloc(count, size);
}
void *realloc(void *block, std::size_t size) {
    if (t_counting)
        g_counted.fetch_add(1, std::memory_order_relaxed);
    return __libc_realloc(block, size);
}
} // extern "C"
constexpr bool kCountsMalloc = true;
#else
constexpr bool kCountsMalloc = false;
#endif

// Counted once: on top of malloc when malloc counts itself.
void *operator new(std::size_t size) {
    if (t_counting && !kCountsMalloc)
        g_counted.fetch_add(1, std::memory_order_relaxed);
    if (void *p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
// The nothrow form too: under AddressSanitizer it would otherwise come from
// the sanitizer while the delete below frees it, a mismatch it reports.
void *operator new(std::size_t size, const std::nothrow_t &) noexcept {
    if (t_counting && !kCountsMalloc)
        g_counted.fetch_add(1, std::memory_order_relaxed);
    return std::malloc(size ? size : 1);
}
void operator delete(void *p) noexcept { std::free(p); }
void operator delete(void *p, std::size_t) noexcept { std::free(p); }

namespace kvd::testing {
namespace {

class NoAllocationTest : public VirtualCardTest {};

TEST_F(NoAllocationTest, SuccessPathsOfTheSevenFunctionsAllocateNothing) {
    install({7});
    KVD4093_HANDLE handle = openRecord(0);
    vcard::card(0).setRecording(false);
    const ADPara para = {0, 0, 0, 3, 100000, 0, 1000, 1, 0, 0, 0, 0, 0, 10, 0, 0, 0};
    static uint16_t samples[65536];
    const uint8_t doStates[16] = {1, 0, 1};
    uint8_t diStates[16];
    uint32_t read = 0;
    // The virtual card builds its sample table on its first start; that is the card's, not the library's.
    ASSERT_EQ(KVD4093_InitDeviceAD(handle, &para), 1);

    g_counted = 0;
    t_counting = true;
    const int32_t results[] = {
        KVD4093_InitDeviceAD(handle, &para),
        KVD4093_ReadDeviceAD(handle, samples, 65536, &read),
        KVD4093_SetDeviceTrigLevel(handle, 5000),
        KVD4093_WriteDeviceDA(handle, 4, 0xABC, 2),
        KVD4093_SetDeviceDO(handle, doStates),
        KVD4093_GetDeviceDI(handle, diStates),
        KVD4093_ReleaseDeviceAD(handle),
    };
    t_counting = false;
    for (int32_t result : results)
        EXPECT_EQ(result, 1);
    EXPECT_EQ(read, 65536u);
    EXPECT_EQ(g_counted.load(), 0);
}

// Cards selected by KVD4093_VIRTUAL_CARDS serve long runs: they list no
// request and allocate nothing per request, writes included.
TEST_F(NoAllocationTest, CardsOfTheEnvironmentKeepNoRequestList) {
    vcard::Behaviour behaviour = vcard::environmentBehaviour();
    behaviour.paced = false; // the reads below need not wait for the clock
    vcard::install({7}, behaviour);
    KVD4093_HANDLE handle = openRecord(0);
    const ADPara para = {0, 0, 0, 3, 100000, 0, 1000, 1, 0, 0, 0, 0, 0, 10, 0, 0, 0};
    ASSERT_EQ(KVD4093_InitDeviceAD(handle, &para), 1);
    static uint16_t samples[4096];
    const uint8_t doStates[16] = {1, 0, 1};
    uint8_t diStates[16];
    uint32_t read = 0;
    int32_t failures = 0;
    g_counted = 0;
    t_counting = true;
    for (int round = 0; round < 1000; ++round)
        failures += !KVD4093_ReadDeviceAD(handle, samples, 4096, &read) + !KVD4093_SetDeviceDO(handle, doStates) +
                    !KVD4093_GetDeviceDI(handle, diStates) + !KVD4093_WriteDeviceDA(handle, 1, 100, 0);
    t_counting = false;
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(g_counted.load(), 0);
    EXPECT_TRUE(vcard::card(0).requests().empty());
}

TEST_F(NoAllocationTest, TheCounterSeesAnAllocation) {
    g_counted = 0;
    t_counting = true;
    auto *probe = new std::vector<int>(100);
    t_counting = false;
    delete probe;
    EXPECT_GE(g_counted.load(), 1);
}

TEST_F(NoAllocationTest, TheCounterSeesWhatTheCLibraryAllocates) {
    if (!kCountsMalloc)
        GTEST_SKIP() << "malloc is the sanitizer's here";
    // Through a pointer the compiler cannot see through, as a library calls them.
    void *(*volatile allocate)(std::size_t) = &std::malloc;
    void *(*volatile allocateZeroed)(std::size_t, std::size_t) = &std::calloc;
    void *(*volatile resize)(void *, std::size_t) = &std::realloc;
    g_counted = 0;
    t_counting = true;
    void *block = resize(allocate(16), 4096);
    void *zeroed = allocateZeroed(4, 8);
    t_counting = false;
    std::free(block);
    std::free(zeroed);
    EXPECT_EQ(g_counted.load(), 3);
}

} // namespace
} // namespace kvd::testing
