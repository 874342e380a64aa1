#include "support/scoped_variable.h"

#include <cstdlib>

namespace kvd::testing {
namespace {

void setVariable(const std::string &name, const char *value) {
#ifdef _WIN32
    // The C runtime's copy and the process environment both, which the
    // library reads; an empty value removes the variable there.
    _putenv_s(name.c_str(), value != nullptr ? value : "");
#else
    if (value != nullptr)
        setenv(name.c_str(), value, 1);
    else
        unsetenv(name.c_str());
#endif
}

} // namespace

ScopedVariable::ScopedVariable(const char *name, const char *value) : name_(name) {
    if (const char *old = std::getenv(name))
        saved_ = old;
    setVariable(name_, value);
}

ScopedVariable::~ScopedVariable() { setVariable(name_, saved_ ? saved_->c_str() : nullptr); }

} // namespace kvd::testing
