// Who may open a card of the software card driver: the security descriptor
// the driver gives each of its device objects. The system and the
// administrators have all access, nobody else any; the DACL is protected, so
// nothing inherited widens it. As SDDL: D:P(A;;FA;;;SY)(A;;FA;;;BA).
//
// The descriptor is built here byte by byte, in self-relative form, because
// the kernel has no SDDL parser to lend a driver built without the WDK.
#pragma once

#include <cstdint>

namespace kvd::testcard {

constexpr uint32_t kFileAllAccess = 0x001F01FF; // "FA"

struct SecurityDescriptorBytes {
    static constexpr uint32_t kSize = 72;
    alignas(4) uint8_t bytes[kSize];
};

namespace detail {

struct DescriptorWriter {
    SecurityDescriptorBytes &descriptor;
    uint32_t at = 0;

    constexpr void byte(uint32_t value) { descriptor.bytes[at++] = uint8_t(value); }
    constexpr void word(uint32_t value) {
        byte(value);
        byte(value >> 8);
    }
    constexpr void dword(uint32_t value) {
        word(value);
        word(value >> 16);
    }
    // An access-allowed entry for the SID S-1-5-<subauthorities>.
    template <uint32_t N> constexpr void allow(uint32_t access, const uint32_t (&subauthorities)[N]) {
        byte(0); // ACCESS_ALLOWED_ACE_TYPE
        byte(0); // no inheritance flags
        word(4 + 4 + 8 + 4 * N); // entry header, mask, SID
        dword(access);
        byte(1); // SID revision
        byte(N);
        constexpr uint8_t kNtAuthority[6] = {0, 0, 0, 0, 0, 5}; // SECURITY_NT_AUTHORITY, big-endian
        for (const uint8_t part : kNtAuthority)
            byte(part);
        for (const uint32_t subauthority : subauthorities)
            dword(subauthority);
    }
};

} // namespace detail

constexpr SecurityDescriptorBytes cardSecurityDescriptor() {
    constexpr uint32_t kHeaderSize = 20, kAclSize = 8 + 20 + 24;
    constexpr uint32_t kSelfRelative = 0x8000, kDaclProtected = 0x1000, kDaclPresent = 0x0004;
    SecurityDescriptorBytes descriptor{};
    detail::DescriptorWriter out{descriptor};
    out.byte(1); // revision
    out.byte(0);
    out.word(kSelfRelative | kDaclProtected | kDaclPresent);
    out.dword(0); // no owner,
    out.dword(0); // no group,
    out.dword(0); // no SACL
    out.dword(kHeaderSize);
    out.byte(2); // ACL_REVISION
    out.byte(0);
    out.word(kAclSize);
    out.word(2); // entries
    out.word(0);
    out.allow(kFileAllAccess, {18});      // SYSTEM, S-1-5-18
    out.allow(kFileAllAccess, {32, 544}); // BUILTIN\Administrators, S-1-5-32-544
    return descriptor;
}

constexpr SecurityDescriptorBytes kCardSecurityDescriptor = cardSecurityDescriptor();

} // namespace kvd::testcard
