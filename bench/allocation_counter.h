// Counts every heap allocation of the benchmark program: malloc, calloc,
// realloc and operator new (which glibc's libstdc++ builds on malloc). Include
// it in exactly one file of a program. glibc only: the replacements forward
// to glibc's own entry points.
#pragma once

#include <atomic>
#include <cstddef>

#include <benchmark/benchmark.h>

extern "C" {
void *__libc_malloc(std::size_t size);
void *__libc_calloc(std::size_t count, std::size_t size);
void *__libc_realloc(void *block, std::size_t size);
}

namespace kvd::bench {

inline std::atomic<long> g_allocations{0};
// The same count for the calling thread alone: what a request allocates, not
// what an emulated card serving it on threads of its own does.
inline thread_local long t_allocations = 0;

// The allocations a benchmark made per iteration, as the counter allocs/call.
inline void reportAllocations(benchmark::State &state, long before) {
    state.counters["allocs/call"] =
        benchmark::Counter(double(g_allocations.load() - before) / double(state.iterations()));
}

// The calling thread's allocations per iteration, as the counter allocs/call.
inline void reportOwnAllocations(benchmark::State &state, long before) {
    state.counters["allocs/call"] = benchmark::Counter(double(t_allocations - before) / double(state.iterations()));
}

} // namespace kvd::bench

extern "C" void *malloc(std::size_t size) {
    kvd::bench::g_allocations.fetch_add(1, std::memory_order_relaxed);
    ++kvd::bench::t_allocations;
    return __libc_malloc(size);
}
extern "C" void *calloc(std::size_t count, std::size_t size) {
    kvd::bench::g_allocations.fetch_add(1, std::memory_order_relaxed);
    ++kvd::bench::t_allocations;
    return __libc_calloc(count, size);
}
extern "C" void *realloc(void *block, std::size_t size) {
    kvd::bench::g_allocations.fetch_add(1, std::memory_order_relaxed);
    ++kvd::bench::t_allocations;
    return __libc_realloc(block, size);
}
