#include "support/config_home.h"

#include <cstdlib>

namespace kvd::testing {
namespace {

// Sets the variable, or removes it for nullptr. (On Windows, where the
// settings are the registry, the variable is set all the same and unused.)
void setConfigHome(const char *value) {
#ifdef _WIN32
    _putenv_s("XDG_CONFIG_HOME", value ? value : "");
#else
    if (value)
        setenv("XDG_CONFIG_HOME", value, 1);
    else
        unsetenv("XDG_CONFIG_HOME");
#endif
}

} // namespace

ConfigHome::ConfigHome() {
    if (const char *old = std::getenv("XDG_CONFIG_HOME"))
        saved_ = old;
    setConfigHome(dir_.path().c_str());
}

ConfigHome::~ConfigHome() { setConfigHome(saved_ ? saved_->c_str() : nullptr); }

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
