// Environment variables from the process environment block. The C runtime's
// getenv reads a copy taken at start-up, which misses a variable set later
// with SetEnvironmentVariable; the OS call sees every change.
#include <windows.h>

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace kvd::platform {
namespace {

std::optional<std::string> readVariable(const char *name) {
    std::string value(64, '\0');
    for (;;) {
        SetLastError(ERROR_SUCCESS);
        const DWORD length = GetEnvironmentVariableA(name, value.data(), DWORD(value.size()));
        if (length == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND)
            return std::nullopt;
        if (length < value.size()) { // it fitted: length leaves out the terminating zero
            value.resize(length);
            return value;
        }
        value.resize(length); // too small: length is the size needed, zero included
    }
}

// Every text handed out stays valid for the life of the process: a caller
// may hold it while another thread reads the same variable. Each name keeps
// the distinct values it has had, which are few.
struct KeptValues {
    std::mutex mutex;
    std::map<std::string, std::vector<std::unique_ptr<std::string>>> byName;
};

const char *keep(const char *name, const std::string &value) {
    static auto *kept = new KeptValues; // never destroyed: callers may hold its texts
    std::lock_guard lock(kept->mutex);
    auto &values = kept->byName[name];
    for (const auto &known : values)
        if (*known == value)
            return known->c_str();
    values.push_back(std::make_unique<std::string>(value));
    return values.back()->c_str();
}

} // namespace

const char *environmentVariable(const char *name) {
    if (name == nullptr)
        return nullptr;
    // Looking a variable up is the library's own business: the caller's
    // last-error code survives it.
    const DWORD savedError = GetLastError();
    const std::optional<std::string> value = readVariable(name);
    const char *text = value ? keep(name, *value) : nullptr;
    SetLastError(savedError);
    return text;
}

} // namespace kvd::platform
