#include "common/writable_places.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>

#include "common/system.h"
#include "facts/settings_folder.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace kvd::tool {
namespace {

namespace fs = std::filesystem;

constexpr char kLogFileName[] = "KVD4093Err.log";
constexpr char kStoreVariable[] = "KVD4093_SETTINGS";

// The store KVD4093_SETTINGS names; nullopt when it is unset or empty.
std::optional<std::string> namedStore() {
    const char *named = std::getenv(kStoreVariable);
    return named != nullptr && *named != '\0' ? std::optional<std::string>(named) : std::nullopt;
}

const char *storeName(bool virtualCards) { return virtualCards ? "KVD4093-virtual" : "KVD4093"; }

// Why the last file operation failed, as the C library says it.
std::string reason() { return std::strerror(errno); }

// Opens the file in `mode` and closes it again; the failure's reason when it does not open.
std::optional<std::string> cannotOpen(const fs::path &file, const char *mode) {
    std::FILE *opened = std::fopen(file.string().c_str(), mode);
    if (opened == nullptr)
        return reason();
    std::fclose(opened);
    return std::nullopt;
}

// Whether this user may make a file in the folder: made and removed again,
// which answers for permissions, access lists and read-only file systems alike.
std::optional<std::string> cannotMakeFileIn(const fs::path &folder) {
    const fs::path probe = folder / (".kvd4093-doctor-" + std::to_string(processId()));
    std::optional<std::string> failure = cannotOpen(probe, "wb");
    std::error_code ignored;
    fs::remove(probe, ignored);
    return failure;
}

PlaceCheck failed(const std::string &place, const std::string &state, const std::string &fix) {
    return {place, false, state, fix};
}

#if !defined(_WIN32)
// The folder of the settings file, found as the library finds it.
std::optional<fs::path> configHome() {
    const std::optional<std::string> folder = facts::settingsFolder(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"));
    return folder ? std::optional<fs::path>(*folder) : std::nullopt;
}

// The nearest folder of the path that exists, which making the path's missing folders starts from.
fs::path nearestExisting(fs::path path) {
    std::error_code error;
    while (!fs::exists(path, error) && path.has_relative_path())
        path = path.parent_path();
    return path;
}

std::string takeOwnership(const fs::path &path) {
    return "give it to this user: sudo chown -R \"$USER\" " + path.string();
}

PlaceCheck checkExistingFile(const fs::path &file) {
    const std::string place = file.string();
    std::error_code error;
    if (!fs::is_regular_file(file, error))
        return failed(place, "not a regular file",
                      "move it away: the library keeps its settings in a file of that name");
    if (const auto why = cannotOpen(file, "rb"))
        return failed(place, "not readable (" + *why + ")", takeOwnership(file.parent_path()));
    // A save writes a new file beside it and renames it over the old one.
    if (const auto why = cannotMakeFileIn(file.parent_path()))
        return failed(place, "not writable: its folder takes no new file (" + *why + ")",
                      takeOwnership(file.parent_path()));
    const fs::path lock = file.string() + ".lock";
    if (fs::exists(lock, error))
        if (const auto why = cannotOpen(lock, "r+b"))
            return failed(place, "not writable: its lock file " + lock.string() + " is not (" + *why + ")",
                          takeOwnership(file.parent_path()));
    return {place, true, "readable and writable", ""};
}
#endif

} // namespace

#if defined(_WIN32)
PlaceCheck checkSettingsStore(bool virtualCards) {
    const std::string subKey = namedStore().value_or(std::string("Software\\Olm\\") + storeName(virtualCards));
    const std::string place = "HKEY_CURRENT_USER\\" + subKey;
    HKEY key = nullptr;
    LSTATUS status = RegOpenKeyExA(HKEY_CURRENT_USER, subKey.c_str(), 0, KEY_READ | KEY_WRITE, &key);
    if (status == ERROR_SUCCESS) {
        RegCloseKey(key);
        return {place, true, "readable and writable", ""};
    }
    // The first save makes the key and any missing key above it, below the
    // nearest one that exists (HKEY_CURRENT_USER itself at the latest).
    for (std::string above = subKey; status == ERROR_FILE_NOT_FOUND && !above.empty();) {
        const size_t slash = above.rfind('\\');
        above = slash == std::string::npos ? std::string() : above.substr(0, slash);
        status = RegOpenKeyExA(HKEY_CURRENT_USER, above.c_str(), 0, KEY_CREATE_SUB_KEY, &key);
        if (status == ERROR_SUCCESS) {
            RegCloseKey(key);
            return {place, true, "none saved yet; the first save makes it", ""};
        }
    }
    return failed(place, "not readable and writable (error " + std::to_string(status) + ")",
                  "give this user full control of the key (regedit: Permissions)");
}
#else
PlaceCheck checkSettingsStore(bool virtualCards) {
    const std::optional<fs::path> home = configHome();
    const std::optional<std::string> named = namedStore();
    if (!named && !home)
        return failed("the settings file", "neither XDG_CONFIG_HOME nor HOME names an absolute folder",
                      "set HOME to your home folder");
    const fs::path file = named ? fs::path(*named) : *home / "Olm" / (std::string(storeName(virtualCards)) + ".reg");
    std::error_code error;
    if (fs::exists(file, error))
        return checkExistingFile(file);
    const fs::path start = nearestExisting(file.parent_path());
    if (!fs::is_directory(start, error))
        return failed(file.string(), "cannot be made: " + start.string() + " is not a folder",
                      "move " + start.string() + " away, or set XDG_CONFIG_HOME to a folder of yours");
    if (const auto why = cannotMakeFileIn(start))
        return failed(file.string(), "cannot be made in " + start.string() + " (" + *why + ")", takeOwnership(start));
    return {file.string(), true, "none saved yet; the first save makes it", ""};
}
#endif

PlaceCheck checkLogFolder() {
    std::error_code error;
    const fs::path folder = fs::current_path(error);
    if (error)
        return failed("the current folder", "unknown (" + error.message() + ")", "run programs from a folder of yours");
    const fs::path log = folder / kLogFileName;
    if (fs::exists(log, error)) {
        if (!fs::is_regular_file(log, error))
            return failed(folder.string(), std::string(kLogFileName) + " here is not a file",
                          "move it away, or run programs from another folder");
        if (const auto why = cannotOpen(log, "r+b"))
            return failed(folder.string(), std::string(kLogFileName) + " here is not writable (" + *why + ")",
                          "remove it, or run programs from a folder of yours");
    } else if (const auto why = cannotMakeFileIn(folder)) {
        return failed(folder.string(), "not writable (" + *why + ")", "run programs from a folder of yours (cd ~)");
    }
    return {folder.string(), true, std::string("writable; programs leave ") + kLogFileName + " here when they end", ""};
}

} // namespace kvd::tool
