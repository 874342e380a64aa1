// The two checks the software card driver makes before it writes an answer
// where a program pointed it: the range below the first address that is not
// the caller's, and the store that fails rather than faults. The store is the
// driver's own routine, run here in user mode, where a fault is raised and
// dispatched the same way as in the kernel.
#include <windows.h>

#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "user_buffer.h"

namespace kvd::testing {
namespace {

using testcard::liesBelow;

// The 64-bit Windows limit, MmUserProbeAddress.
constexpr uintptr_t kLimit = 0x7FFFFFFF0000;

TEST(UserBufferTest, LiesBelowTheLimitWhollyOrNotAtAll) {
    const struct {
        uintptr_t address;
        size_t size;
        bool below;
    } cases[] = {
        {0x10000, 4, true},
        {kLimit - 4, 4, true},                // the last 4 bytes
        {kLimit - 3, 4, false},               // its last byte is the limit
        {kLimit, 4, false},
        {kLimit - 1, 1, true},
        {0xFFFF800000001000, 4, false},       // the kernel's half
        {UINTPTR_MAX - 1, 4, false},          // would wrap to a low address
        {0x10000, kLimit, false},             // larger than what lies below
        {0x10000, 0, false},                  // nothing to write is not a buffer
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(::testing::Message() << std::hex << c.address << " + " << c.size);
        EXPECT_EQ(liesBelow(c.address, c.size, kLimit), c.below);
    }
}

TEST(UserBufferTest, StoreWritesFourBytesLittleEndianAtAnyAlignment) {
    uint8_t buffer[8] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
    ASSERT_EQ(kvdStoreGuarded(buffer + 1, 0x04030201), 1);
    EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + 8), (std::vector<uint8_t>{0xEE, 1, 2, 3, 4, 0xEE, 0xEE, 0xEE}));
}

TEST(UserBufferTest, StoreThatFaultsFailsAndTheProgramGoesOn) {
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    const DWORD page = system.dwPageSize;
    // A writable page followed by a read-only one, then a released one.
    auto *pages = static_cast<uint8_t *>(VirtualAlloc(nullptr, 3 * page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    ASSERT_NE(pages, nullptr);
    DWORD old = 0;
    ASSERT_TRUE(VirtualProtect(pages + page, page, PAGE_READONLY, &old));
    ASSERT_TRUE(VirtualFree(pages + 2 * page, page, MEM_DECOMMIT));

    EXPECT_EQ(kvdStoreGuarded(pages + page, 7), 0) << "read-only";
    EXPECT_EQ(pages[page], 0);
    EXPECT_EQ(kvdStoreGuarded(pages + page - 2, 0x07070707), 0) << "runs into the read-only page";
    EXPECT_EQ(pages[page - 2], 0) << "nothing of it written";
    EXPECT_EQ(kvdStoreGuarded(pages + 2 * page, 7), 0) << "not committed";
    EXPECT_EQ(kvdStoreGuarded(reinterpret_cast<void *>(0xFFFF800000001000), 7), 0) << "the kernel's";
    EXPECT_EQ(kvdStoreGuarded(pages + page - 4, 0x0A0B0C0D), 1) << "the last 4 writable bytes";
    EXPECT_EQ(pages[page - 4], 0x0D);
    VirtualFree(pages, 0, MEM_RELEASE);
}

} // namespace
} // namespace kvd::testing
