#include "user_tokens.h"

namespace kvd::testing {

Sid::Sid(WELL_KNOWN_SID_TYPE type) {
    DWORD size = sizeof bytes_;
    CreateWellKnownSid(type, nullptr, bytes_, &size);
}

Token impersonationToken(bool withoutAdministrators) {
    HANDLE own = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY | TOKEN_ASSIGN_PRIMARY, &own))
        return nullptr;
    const Token process(own);
    HANDLE made = nullptr;
    if (withoutAdministrators) {
        Sid administrators(WinBuiltinAdministratorsSid);
        SID_AND_ATTRIBUTES disabled{administrators.get(), 0};
        HANDLE restricted = nullptr;
        if (!CreateRestrictedToken(own, 0, 1, &disabled, 0, nullptr, 0, nullptr, &restricted))
            return nullptr;
        const Token primary(restricted);
        DuplicateToken(restricted, SecurityImpersonation, &made);
    } else {
        DuplicateToken(own, SecurityImpersonation, &made);
    }
    return Token(made);
}

bool isAdministrator(HANDLE token) {
    Sid administrators(WinBuiltinAdministratorsSid);
    BOOL member = FALSE;
    return CheckTokenMembership(token, administrators.get(), &member) && member;
}

} // namespace kvd::testing
