#include "support/scoped_variable.h"

#include <cstdlib>

namespace kvd::testing {
namespace {

void setVariable(const std::string &name, const char *value) {
    if (value != nullptr)
        setenv(name.c_str(), value, 1);
    else
        unsetenv(name.c_str());
}

} // namespace

ScopedVariable::ScopedVariable(const char *name, const char *value) : name_(name) {
    if (const char *old = std::getenv(name))
        saved_ = old;
    setVariable(name_, value);
}

ScopedVariable::~ScopedVariable() { setVariable(name_, saved_ ? saved_->c_str() : nullptr); }

} // namespace kvd::testing
