// A temporary settings folder: XDG_CONFIG_HOME points into a fresh
// directory while the object lives and gets its old value back afterwards.
#pragma once

#include <optional>
#include <string>

#include "support/test_support.h"

namespace kvd::testing {

class ConfigHome {
public:
    ConfigHome();
    ~ConfigHome();
    ConfigHome(const ConfigHome &) = delete;
    ConfigHome &operator=(const ConfigHome &) = delete;

    const std::string &path() const { return dir_.path(); }
    // The library's settings file inside it.
    std::string settingsFile() const { return dir_.file("Olm/KVD4093.reg"); }
    // The settings file's bytes, with CRLF shown as "\n" for readable expectations.
    std::string settingsText() const;

private:
    TempDir dir_;
    std::optional<std::string> saved_;
};

// Replaces every CRLF by LF.
std::string withoutCarriageReturns(const std::string &text);

} // namespace kvd::testing
