// The settings of one application as the text of a REGEDIT4 export: the
// in-memory tree of keys and values, read from and written back to that text.
//
// Keys live below one root path (HKEY_CURRENT_USER\Software\<key>\<application>);
// a section is the path of sub-keys below it joined by '\' ("" is the root).
// Key and value names compare without regard to ASCII case, as the registry
// does; GBK bytes are kept as they are. Values are DWORDs, strings, or other
// registry types kept as their raw text, so a hand-made binary value survives
// a rewrite.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kvd::platform {

struct RegistryValue {
    enum class Kind { Dword, String, Other };
    std::string name; // "" is the key's default value, written @
    Kind kind = Kind::String;
    uint32_t dword = 0;
    std::string data; // String: the text's bytes; Other: everything after '=' as written
};

class RegistryFile {
public:
    // rootPath: "HKEY_CURRENT_USER\Software\Olm\KVD4093" or the like.
    explicit RegistryFile(std::string rootPath) : rootPath_(std::move(rootPath)) {}

    // Reads a REGEDIT4 text. A text that is not one this store wrote or could
    // have written (a stray line, a bad escape, a key outside the root, ...)
    // leaves the tree empty, returns false and says why, with its line
    // number, in *error. An empty text is an empty tree.
    bool parse(std::string_view text, std::string *error);

    // The whole tree as a REGEDIT4 export: CRLF lines, keys in registry order
    // (parents first, sub-keys sorted without regard to case), values in the
    // order they were first written.
    std::string text() const;

    // The value, or nullptr when it or its section is missing.
    const RegistryValue *find(const char *section, const char *name) const;

    // Store a value, creating the section's keys; a new value goes after the
    // section's others, a changed one keeps its place. False (nothing
    // changed) for a null or unusable section or name: an empty sub-key name,
    // a line break in a name.
    bool setDword(const char *section, const char *name, uint32_t value);
    bool setString(const char *section, const char *name, std::string_view text);

    // Removes a section's key with its values and all its sub-keys; "" empties
    // the tree. A section that does not exist is already removed: true.
    bool deleteSection(const char *section);

private:
    struct Key {
        std::vector<std::string> names; // the sub-key names as first written
        std::vector<RegistryValue> values;
        std::map<std::string, size_t> byName; // case-folded name -> place in values
    };
    // Keyed by the case-folded names, so the map's order is the registry's.
    using Path = std::vector<std::string>;

    Key &makeKey(const std::vector<std::string> &names);
    // The value to store into, made when missing; nullptr for unusable names.
    RegistryValue *makeValue(const char *section, const char *name);
    static RegistryValue &valueOf(Key &key, const std::string &name);
    bool parseLine(std::string_view line, Key *&current, std::string *error);

    std::string rootPath_;
    std::map<Path, Key> keys_;
};

} // namespace kvd::platform
