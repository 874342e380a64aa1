// Writing an answer where a program pointed the driver: the identity
// requests (method "neither") hand the driver the caller's own address of its
// input buffer. Two checks make that safe, those of ProbeForWrite under a
// structured exception handler:
//  - the buffer must lie wholly in the caller's part of the address space,
//    below the kernel's MmUserProbeAddress, or a program could have the
//    driver write into the kernel;
//  - the write itself is guarded, so an address there that is not mapped or
//    not writable fails the request instead of stopping the system.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kvd::testcard {

// Whether the `size` bytes at `address` (size > 0) lie wholly below `limit`,
// the first address that is not the caller's.
constexpr bool liesBelow(uintptr_t address, size_t size, uintptr_t limit) {
    return size != 0 && address < limit && size <= limit - address;
}

} // namespace kvd::testcard

// Stores `value` (little-endian, as x86 stores) at `target`, which need not be
// aligned; 1 when stored, 0 when the store faulted. g++ has no __try/__except,
// so this is a small assembly routine whose unwind data carries the scope
// table the system's __C_specific_handler reads: a fault inside the store
// resumes at the routine's failure exit. x86-64 only.
extern "C" int32_t kvdStoreGuarded(void *target, uint32_t value);
