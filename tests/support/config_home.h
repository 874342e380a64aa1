// A temporary settings folder: XDG_CONFIG_HOME points into a fresh
// directory while the object lives and gets its old value back afterwards.
#pragma once

#include <string>

#include "support/scoped_variable.h"
#include "support/test_support.h"

namespace kvd::testing {

class ConfigHome {
public:
    ConfigHome() : variable_("XDG_CONFIG_HOME", dir_.path().c_str()) {}

    const std::string &path() const { return dir_.path(); }
    // The library's settings file inside it.
    std::string settingsFile() const { return dir_.file("Olm/KVD4093.reg"); }
    // The settings file's bytes, with CRLF shown as "\n" for readable expectations.
    std::string settingsText() const;

private:
    TempDir dir_;
    ScopedVariable variable_; // made after the folder, put back before it goes
};

// Replaces every CRLF by LF.
std::string withoutCarriageReturns(const std::string &text);

} // namespace kvd::testing
