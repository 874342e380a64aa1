#include "support/config_home.h"

#include <cstdlib>

namespace kvd::testing {

ConfigHome::ConfigHome() {
    if (const char *old = std::getenv("XDG_CONFIG_HOME"))
        saved_ = old;
    setenv("XDG_CONFIG_HOME", dir_.path().c_str(), 1);
}

ConfigHome::~ConfigHome() {
    if (saved_)
        setenv("XDG_CONFIG_HOME", saved_->c_str(), 1);
    else
        unsetenv("XDG_CONFIG_HOME");
}

std::string ConfigHome::settingsText() const { return withoutCarriageReturns(readWholeFile(settingsFile())); }

std::string withoutCarriageReturns(const std::string &text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n'))
            out.push_back(text[i]);
    return out;
}

} // namespace kvd::testing
