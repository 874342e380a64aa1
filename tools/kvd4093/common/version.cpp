#include "common/version.h"

#include <filesystem>

#include "KVD4093.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace kvd::tool {
namespace {

// The file the library was loaded from, found from one of its functions.
std::string libraryFile() {
#if defined(_WIN32)
    HMODULE module = nullptr;
    char path[MAX_PATH] = {};
    if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           reinterpret_cast<LPCSTR>(&KVD4093_GetDeviceCount), &module) &&
        GetModuleFileNameA(module, path, MAX_PATH) > 0)
        return path;
    return {};
#else
    Dl_info info = {};
    if (dladdr(reinterpret_cast<void *>(&KVD4093_GetDeviceCount), &info) == 0 || info.dli_fname == nullptr)
        return {};
    std::error_code error;
    const std::filesystem::path real = std::filesystem::canonical(info.dli_fname, error);
    return error ? std::string(info.dli_fname) : real.string();
#endif
}

// "1.0.0" of ".../libkvd4093.so.1.0.0"; empty when the name has none.
std::string versionInName(const std::string &file) {
    const std::string marker = ".so.";
    const size_t at = file.rfind(marker);
    return at == std::string::npos ? std::string() : file.substr(at + marker.size());
}

} // namespace

std::string toolAndLibraryVersion() {
    std::string text = std::string("kvd4093 ") + KVD4093_TOOL_VERSION + "\n";
    const std::string file = libraryFile();
    const std::string version = versionInName(file);
    text += "library: " + (file.empty() ? std::string("(not found)") : file);
    return text + (version.empty() ? "" : " (version " + version + ")") + "\n";
}

} // namespace kvd::tool
