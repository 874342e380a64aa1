// An environment variable of this process set or removed for one scope; the
// old value (or its absence) comes back at the end.
#pragma once

#include <optional>
#include <string>

namespace kvd::testing {

class ScopedVariable {
public:
    // A null value removes the variable.
    ScopedVariable(const char *name, const char *value);
    ~ScopedVariable();
    ScopedVariable(const ScopedVariable &) = delete;
    ScopedVariable &operator=(const ScopedVariable &) = delete;

private:
    std::string name_;
    std::optional<std::string> saved_;
};

} // namespace kvd::testing
