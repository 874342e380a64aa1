// The security descriptor the software card driver gives its devices: what it
// says, and what the system's access check makes of it for an administrator
// and for the same user without the administrators group.
#include <windows.h>

#include <sddl.h>

#include <string>

#include <gtest/gtest.h>

#include "device_access.h"
#include "user_tokens.h"

namespace kvd::testing {
namespace {

TEST(DeviceAccessTest, AdmitsTheSystemAndAdministratorsOnlyInAProtectedDacl) {
    testcard::SecurityDescriptorBytes descriptor = testcard::kCardSecurityDescriptor;
    ASSERT_TRUE(IsValidSecurityDescriptor(descriptor.bytes));
    EXPECT_EQ(GetSecurityDescriptorLength(descriptor.bytes), testcard::SecurityDescriptorBytes::kSize);
    char *text = nullptr;
    ASSERT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorA(descriptor.bytes, SDDL_REVISION_1,
                                                                     DACL_SECURITY_INFORMATION, &text, nullptr));
    EXPECT_EQ(std::string(text), "D:P(A;;FA;;;SY)(A;;FA;;;BA)");
    LocalFree(text);
}

// Read and write access to a card, as the library opens it, checked against
// the descriptor with an owner and group added (AccessCheck wants them; the
// driver sets the DACL alone and the device keeps its own owner).
DWORD grantedTo(HANDLE token) {
    testcard::SecurityDescriptorBytes descriptor = testcard::kCardSecurityDescriptor;
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    EXPECT_TRUE(GetSecurityDescriptorDacl(descriptor.bytes, &present, &dacl, &defaulted));
    SECURITY_DESCRIPTOR checked;
    InitializeSecurityDescriptor(&checked, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&checked, present, dacl, FALSE);
    Sid administrators(WinBuiltinAdministratorsSid);
    SetSecurityDescriptorOwner(&checked, administrators.get(), FALSE);
    SetSecurityDescriptorGroup(&checked, administrators.get(), FALSE);
    GENERIC_MAPPING mapping{FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
    DWORD wanted = GENERIC_READ | GENERIC_WRITE;
    MapGenericMask(&wanted, &mapping);
    PRIVILEGE_SET privileges;
    DWORD privilegesSize = sizeof privileges, granted = 0;
    BOOL allowed = FALSE;
    EXPECT_TRUE(AccessCheck(&checked, token, wanted, &mapping, &privileges, &privilegesSize, &granted, &allowed))
        << GetLastError();
    return allowed ? granted : 0;
}

TEST(DeviceAccessTest, AnAdministratorIsAdmittedTheSameUserWithoutTheGroupIsNot) {
    const Token administrator = impersonationToken(false);
    const Token user = impersonationToken(true);
    ASSERT_TRUE(isAdministrator(administrator.get())) << "the tests run as an administrator";
    ASSERT_FALSE(isAdministrator(user.get()));
    EXPECT_EQ(grantedTo(administrator.get()) & (FILE_GENERIC_READ | FILE_GENERIC_WRITE),
              DWORD(FILE_GENERIC_READ | FILE_GENERIC_WRITE));
    EXPECT_EQ(grantedTo(user.get()), 0u);
}

} // namespace
} // namespace kvd::testing
