// Access tokens for the tests of who may open a card: this process's own
// user, and the same user with the administrators group made deny-only, as
// an ordinary user's token has it.
#pragma once

#include <windows.h>

#include <memory>

namespace kvd::testing {

struct HandleCloser {
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using Token = std::unique_ptr<void, HandleCloser>;

// A well-known SID, such as WinBuiltinAdministratorsSid.
class Sid {
public:
    explicit Sid(WELL_KNOWN_SID_TYPE type);
    PSID get() { return bytes_; }

private:
    alignas(DWORD) BYTE bytes_[SECURITY_MAX_SID_SIZE];
};

// An impersonation token of this process's user; without the administrators
// group when `withoutAdministrators` (null when it cannot be made).
Token impersonationToken(bool withoutAdministrators);

// Whether the token's administrators group is enabled.
bool isAdministrator(HANDLE token);

// Runs the calling thread as `token` while it lives.
class Impersonation {
public:
    explicit Impersonation(HANDLE token) : active_(SetThreadToken(nullptr, token) != 0) {}
    ~Impersonation() {
        if (active_)
            RevertToSelf();
    }
    Impersonation(const Impersonation &) = delete;
    Impersonation &operator=(const Impersonation &) = delete;
    bool active() const { return active_; }

private:
    bool active_;
};

} // namespace kvd::testing
