// The per-user profile in the registry: HKEY_CURRENT_USER\Software\<key>\<application>
// (or the key profileStore() chooses instead), one sub-key per section.
// Values are DWORDs and ANSI strings, read and written through the A
// functions, so names and texts pass as GBK bytes.
#include <windows.h>

#include <mutex>
#include <optional>
#include <string>

#include "platform/platform.h"

namespace kvd::platform {
namespace {

// The root below HKEY_CURRENT_USER. Until the start-up hook selects one, the
// library's own key; the store profileStore() chooses may take its place.
struct Root {
    std::mutex mutex;
    std::string key = "Olm";
    std::string application = "KVD4093";
};

Root &root() {
    static auto *instance = new Root; // never destroyed: exports may run late in a process
    return *instance;
}

std::string sectionPath(const char *section) {
    Root &state = root();
    std::lock_guard lock(state.mutex);
    const ProfileStore store = profileStore(state.application);
    std::string path = store.named.empty() ? "Software\\" + state.key + "\\" + store.application : store.named;
    if (section != nullptr && *section != '\0')
        path.append("\\").append(section);
    return path;
}

// An open registry key, closed when it goes out of scope.
class Key {
public:
    // Opens the section's key for reading; invalid when it does not exist.
    static Key open(const char *section) {
        Key key;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, sectionPath(section).c_str(), 0, KEY_READ, &key.handle_) != ERROR_SUCCESS)
            key.handle_ = nullptr;
        return key;
    }
    // Opens the section's key for writing, making it and the keys above it as needed.
    static Key create(const char *section) {
        Key key;
        if (RegCreateKeyExA(HKEY_CURRENT_USER, sectionPath(section).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_READ | KEY_WRITE, nullptr, &key.handle_, nullptr) != ERROR_SUCCESS)
            key.handle_ = nullptr;
        return key;
    }
    Key(Key &&other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }
    Key(const Key &) = delete;
    Key &operator=(const Key &) = delete;
    ~Key() {
        if (handle_ != nullptr)
            RegCloseKey(handle_);
    }
    explicit operator bool() const { return handle_ != nullptr; }
    HKEY get() const { return handle_; }

private:
    Key() = default;
    HKEY handle_ = nullptr;
};

// A value's raw bytes if it exists with the given type.
bool queryValue(const char *section, const char *name, DWORD wantedType, std::string *bytes) {
    const Key key = Key::open(section);
    if (!key)
        return false;
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExA(key.get(), name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != wantedType)
        return false;
    bytes->assign(size, '\0');
    if (RegQueryValueExA(key.get(), name, nullptr, &type, reinterpret_cast<BYTE *>(bytes->data()), &size) !=
            ERROR_SUCCESS ||
        type != wantedType)
        return false;
    bytes->resize(size);
    return true;
}

bool setValue(HKEY key, const char *name, DWORD type, const void *data, DWORD size) {
    return RegSetValueExA(key, name, 0, type, static_cast<const BYTE *>(data), size) == ERROR_SUCCESS;
}

bool setNumber(HKEY key, const char *name, int32_t value) {
    const DWORD bits = static_cast<DWORD>(value); // the bit pattern, read back as the same signed number
    return setValue(key, name, REG_DWORD, &bits, sizeof bits);
}

bool setText(HKEY key, const char *name, const char *value) {
    const std::string text = value ? value : "";
    return setValue(key, name, REG_SZ, text.c_str(), DWORD(text.size() + 1));
}

} // namespace

void setProfileRoot(const char *key, const char *application) {
    Root &state = root();
    std::lock_guard lock(state.mutex);
    state.key = key ? key : "";
    state.application = application ? application : "";
}

bool writeProfileInt(const char *section, const char *name, int32_t value) {
    const Key key = Key::create(section);
    return key && setNumber(key.get(), name, value);
}

int32_t profileInt(const char *section, const char *name, int32_t defaultValue) {
    std::string bytes;
    if (!queryValue(section, name, REG_DWORD, &bytes) || bytes.size() != sizeof(DWORD))
        return defaultValue;
    DWORD bits = 0;
    bytes.copy(reinterpret_cast<char *>(&bits), sizeof bits);
    return static_cast<int32_t>(bits);
}

void profileInts(const char *section, ProfileRead *reads, size_t count) {
    // The registry answers each value as cheaply one by one.
    for (size_t i = 0; i < count; ++i)
        reads[i].value = profileInt(section, reads[i].name, reads[i].defaultValue);
}

bool writeProfileString(const char *section, const char *name, const char *value) {
    const Key key = Key::create(section);
    return key && setText(key.get(), name, value);
}

std::string profileString(const char *section, const char *name, const char *defaultValue) {
    std::string bytes;
    if (!queryValue(section, name, REG_SZ, &bytes))
        return defaultValue ? defaultValue : "";
    // A stored string need not end with its zero; anything from the first zero on goes.
    return bytes.substr(0, bytes.find('\0'));
}

size_t writeProfileValues(const ProfileWrite *writes, size_t count) {
    // The registry has no cheaper way than one value at a time; a run of
    // writes to one section opens its key once.
    std::optional<Key> key;
    std::string openSection;
    for (size_t i = 0; i < count; ++i) {
        const ProfileWrite &write = writes[i];
        const std::string section = write.section ? write.section : "";
        if (!key || section != openSection) {
            key.emplace(Key::create(write.section));
            openSection = section;
        }
        const bool written = *key && (write.text ? setText(key->get(), write.name, write.text)
                                                 : setNumber(key->get(), write.name, write.number));
        if (!written)
            return i;
    }
    return count;
}

bool deleteProfileSection(const char *section) {
    return RegDeleteTreeA(HKEY_CURRENT_USER, sectionPath(section).c_str()) == ERROR_SUCCESS;
}

} // namespace kvd::platform
