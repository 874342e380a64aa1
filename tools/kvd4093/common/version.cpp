#include "common/version.h"

#include <filesystem>
#include <vector>

#include "KVD4093.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace kvd::tool {
namespace {

#if defined(_WIN32)
// The file the library was loaded from, found from one of its functions.
std::string libraryFile() {
    HMODULE module = nullptr;
    char path[MAX_PATH] = {};
    if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           reinterpret_cast<LPCSTR>(&KVD4093_GetDeviceCount), &module) &&
        GetModuleFileNameA(module, path, MAX_PATH) > 0)
        return path;
    return {};
}

// "1.0.0" from the DLL's version resource; empty when it has none.
std::string versionOf(const std::string &file) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(file.c_str(), &ignored);
    std::vector<char> resource(size);
    VS_FIXEDFILEINFO *info = nullptr;
    UINT length = 0;
    if (size == 0 || !GetFileVersionInfoA(file.c_str(), 0, size, resource.data()) ||
        !VerQueryValueA(resource.data(), "\\", reinterpret_cast<void **>(&info), &length) || length < sizeof *info)
        return {};
    return std::to_string(HIWORD(info->dwFileVersionMS)) + "." + std::to_string(LOWORD(info->dwFileVersionMS)) + "." +
           std::to_string(HIWORD(info->dwFileVersionLS));
}
#else
std::string libraryFile() {
    Dl_info info = {};
    if (dladdr(reinterpret_cast<void *>(&KVD4093_GetDeviceCount), &info) == 0 || info.dli_fname == nullptr)
        return {};
    std::error_code error;
    const std::filesystem::path real = std::filesystem::canonical(info.dli_fname, error);
    return error ? std::string(info.dli_fname) : real.string();
}

// "1.0.0" of ".../libkvd4093.so.1.0.0"; empty when the name has none.
std::string versionOf(const std::string &file) {
    const std::string marker = ".so.";
    const size_t at = file.rfind(marker);
    return at == std::string::npos ? std::string() : file.substr(at + marker.size());
}
#endif

} // namespace

LoadedLibrary loadedLibrary() {
    LoadedLibrary library;
    library.file = libraryFile();
    if (!library.file.empty())
        library.version = versionOf(library.file);
    return library;
}

std::string toolVersion() { return KVD4093_TOOL_VERSION; }

std::string toolAndLibraryVersion() {
    const LoadedLibrary library = loadedLibrary();
    std::string text = "kvd4093 " + toolVersion() + "\n";
    text += "library: " + (library.file.empty() ? std::string("(not found)") : library.file);
    return text + (library.version.empty() ? "" : " (version " + library.version + ")") + "\n";
}

} // namespace kvd::tool
