// The per-user profile on POSIX: one REGEDIT4 export per application at
// $XDG_CONFIG_HOME/<key>/<application>.reg ($HOME/.config when the variable
// is unset), with the keys below HKEY_CURRENT_USER\Software\<key>\<application>;
// the virtual cards' store and one the user names take its place as
// profileStore() (platform.h) chooses.
//
// Every change reads the file, changes it in memory and replaces it by
// rename, all under an exclusive lock on "<file>.lock": two processes saving
// at once lose nothing, and readers, who take no lock, see a whole file.
// A file that does not parse, is larger than 1 MiB or is no regular file
// (a FIFO, a device) reads as empty (every value its default) and is never
// overwritten: writes to it fail, and the first says why on stderr (once for
// each such file). A symbolic link is written through: the file it points to
// is replaced and the link stays.
#include <algorithm>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>

#include "platform/platform.h"
#include "platform/posix/atomic_file.h"
#include "platform/posix/registry_file.h"
#include "facts/settings_folder.h"

namespace kvd::platform {
namespace {

// A registry key name has at most 255 characters.
constexpr size_t kRootNameCapacity = 256;
// The largest settings file read or written: far beyond what the library
// stores, small enough that no file in its place can exhaust the memory.
constexpr size_t kMaxFileBytes = size_t(1) << 20;

// The root the start-up hook selects. Until it runs (and in programs that
// link the library's code statically, which have no start-up hook) the root
// is the library's own, the same one. Constant-initialised, so the start-up
// hook may run before any other static object of the library is made.
constinit std::mutex g_rootMutex;
constinit char g_rootKey[kRootNameCapacity] = "Olm";
constinit char g_rootApplication[kRootNameCapacity] = "KVD4093";

// The file whose refusal was reported last, so each broken file is reported once.
constinit std::mutex g_reportMutex;
constinit char g_reportedFile[4096] = "";

struct StoreFiles {
    std::string folder;
    std::string file;
    std::string lock;
    std::string rootPath; // HKEY_CURRENT_USER\Software\<key>\<application>
};

// The config folder, looked up at every use so that a changed
// XDG_CONFIG_HOME takes effect at once. The XDG rules ignore a relative path.
bool configHome(std::string *folder) {
    const std::optional<std::string> found =
        facts::settingsFolder(environmentVariable("XDG_CONFIG_HOME"), environmentVariable("HOME"));
    if (found)
        *folder = *found;
    return found.has_value();
}

bool storeFiles(StoreFiles *files) {
    std::string key;
    std::string application;
    {
        std::lock_guard lock(g_rootMutex);
        key = g_rootKey;
        application = g_rootApplication;
    }
    const ProfileStore store = profileStore(application);
    if (!store.named.empty()) {
        const size_t slash = store.named.rfind('/');
        files->folder = slash == std::string::npos ? "." : store.named.substr(0, std::max<size_t>(slash, 1));
        files->file = store.named;
    } else {
        std::string home;
        if (!configHome(&home))
            return false;
        files->folder = home + "/" + key;
        files->file = files->folder + "/" + store.application + ".reg";
    }
    files->lock = files->file + ".lock";
    files->rootPath = "HKEY_CURRENT_USER\\Software\\" + key + "\\" + store.application;
    return true;
}

bool refuse(const std::string &file, const std::string &why) {
    std::lock_guard lock(g_reportMutex);
    if (file != g_reportedFile) {
        std::snprintf(g_reportedFile, sizeof g_reportedFile, "%s", file.c_str());
        std::fprintf(stderr, "KVD4093: settings not saved in %s: %s\n", file.c_str(), why.c_str());
        std::fflush(stderr);
    }
    return false;
}

// The values of one section as the file holds them now; none when the file
// is missing, cannot be read or does not parse. The file is read once and no
// other key is built, so a large file costs one pass over its text.
RegistryFile load(const char *section) {
    StoreFiles files;
    if (!storeFiles(&files))
        return RegistryFile("");
    RegistryFile tree(files.rootPath);
    std::string text;
    std::string why;
    if (readWholeFile(files.file, kMaxFileBytes, &text, &why))
        tree.parseSection(text, section, &why); // a tree that does not parse is left empty
    return tree;
}

int32_t intIn(const RegistryFile &tree, const char *section, const char *name, int32_t defaultValue) {
    const RegistryValue *value = tree.find(section, name);
    if (value == nullptr || value->kind != RegistryValue::Kind::Dword)
        return defaultValue;
    return static_cast<int32_t>(value->dword); // the bit pattern back as the signed number stored
}

// One read-modify-write of the file under its lock. edit answers false for
// arguments it cannot store; the file is then left alone.
template <class Edit>
bool change(Edit &&edit) {
    StoreFiles files;
    if (!storeFiles(&files))
        return refuse("the settings file", "neither XDG_CONFIG_HOME nor HOME names an absolute folder");
    std::string why;
    if (!makeFolders(files.folder, &why))
        return refuse(files.file, why);
    FileLock lock(files.lock);
    if (!lock.held())
        return refuse(files.file, lock.why());
    std::string text;
    if (!readWholeFile(files.file, kMaxFileBytes, &text, &why))
        return refuse(files.file, why + "; the file is left as it is until it is repaired or removed");
    RegistryFile tree(files.rootPath);
    if (!tree.parse(text, &why))
        return refuse(files.file, why + "; the file is left as it is until it is repaired or removed");
    if (!edit(tree))
        return false;
    const std::optional<std::string> changed = tree.text(kMaxFileBytes);
    if (!changed)
        return refuse(files.file, "the settings would be larger than " + std::to_string(kMaxFileBytes) + " bytes");
    if (!replaceFile(files.file, *changed, &why))
        return refuse(files.file, why);
    return true;
}

bool apply(RegistryFile &tree, const ProfileWrite &write) {
    if (write.text != nullptr)
        return tree.setString(write.section, write.name, write.text);
    return tree.setDword(write.section, write.name, static_cast<uint32_t>(write.number));
}

} // namespace

void setProfileRoot(const char *key, const char *application) {
    if (key == nullptr || application == nullptr)
        return;
    std::lock_guard lock(g_rootMutex);
    std::snprintf(g_rootKey, sizeof g_rootKey, "%s", key);
    std::snprintf(g_rootApplication, sizeof g_rootApplication, "%s", application);
}

bool writeProfileInt(const char *section, const char *name, int32_t value) {
    const ProfileWrite write{section, name, value, nullptr};
    return change([&](RegistryFile &tree) { return apply(tree, write); });
}

int32_t profileInt(const char *section, const char *name, int32_t defaultValue) {
    return intIn(load(section), section, name, defaultValue);
}

void profileInts(const char *section, ProfileRead *reads, size_t count) {
    const RegistryFile tree = load(section);
    for (size_t i = 0; i < count; ++i)
        reads[i].value = intIn(tree, section, reads[i].name, reads[i].defaultValue);
}

bool writeProfileString(const char *section, const char *name, const char *value) {
    if (value == nullptr)
        return false;
    const ProfileWrite write{section, name, 0, value};
    return change([&](RegistryFile &tree) { return apply(tree, write); });
}

std::string profileString(const char *section, const char *name, const char *defaultValue) {
    const RegistryFile tree = load(section);
    const RegistryValue *value = tree.find(section, name);
    if (value == nullptr || value->kind != RegistryValue::Kind::String)
        return defaultValue != nullptr ? defaultValue : "";
    return value->data;
}

bool deleteProfileSection(const char *section) {
    return change([&](RegistryFile &tree) { return tree.deleteSection(section); });
}

size_t writeProfileValues(const ProfileWrite *writes, size_t count) {
    if (writes == nullptr || count == 0)
        return 0;
    // All in one change, up to the first write the tree refuses.
    size_t applied = 0;
    const bool landed = change([&](RegistryFile &tree) {
        while (applied < count && apply(tree, writes[applied]))
            ++applied;
        return applied > 0;
    });
    if (landed)
        return applied;
    // The file did not take the change: one by one, the writes leave
    // exactly what they leave when made one by one.
    for (size_t i = 0; i < count; ++i)
        if (!change([&](RegistryFile &tree) { return apply(tree, writes[i]); }))
            return i;
    return count;
}

} // namespace kvd::platform
