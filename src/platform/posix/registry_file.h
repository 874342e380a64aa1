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
#include <memory>
#include <optional>
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
    // The registry's own limit: keys nest at most this deep below the root.
    static constexpr size_t kMaxKeyDepth = 512;

    // rootPath: "HKEY_CURRENT_USER\Software\Olm\KVD4093" or the like.
    explicit RegistryFile(std::string rootPath) : rootPath_(std::move(rootPath)) {}

    // Reads a REGEDIT4 text. A text that is not one this store wrote or could
    // have written (a stray line, a bad escape, a key outside the root, ...)
    // leaves the tree empty, returns false and says why, with its line
    // number, in *error. An empty text is an empty tree.
    bool parse(std::string_view text, std::string *error);
    // Reads a text as parse does, every line checked alike, but keeps only the
    // values of one section: a lookup then costs time in proportion to the
    // text and memory in proportion to the section, however many keys the
    // text holds. A section that could not be stored matches no key.
    bool parseSection(std::string_view text, const char *section, std::string *error);

    // The whole tree as a REGEDIT4 export: CRLF lines, keys in registry order
    // (parents first, sub-keys sorted without regard to case), values in the
    // order they were first written.
    std::string text() const;
    // The same, or nothing when it would be longer than maxBytes: a tree of
    // many deep keys writes each key's whole path, so its text can be far
    // longer than the text it was read from.
    std::optional<std::string> text(size_t maxBytes) const;

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
    // A key of the tree. Each key holds only its own name, so reading a key
    // line costs time and memory in proportion to the line.
    struct Key {
        std::string name; // as first written; "" for the root
        std::vector<RegistryValue> values;
        std::map<std::string, size_t> byName; // case-folded name -> place in values
        // By case-folded name, so the map's order is the registry's.
        std::map<std::string, std::unique_ptr<Key>> children;
    };

    Key &makeKey(const std::vector<std::string> &names);
    const Key *findKey(const std::vector<std::string> &names) const;
    Key *findKey(const std::vector<std::string> &names);
    // The value to store into, made when missing; nullptr for unusable names.
    RegistryValue *makeValue(const char *section, const char *name);
    static RegistryValue &valueOf(Key &key, const std::string &name);
    // Where the values of the lines read go: the key of the last key line,
    // or nowhere when that key is not the section kept.
    struct Reading {
        bool keepAll = true;
        // The folded names of the one section kept when not all are; none
        // when that section could not be stored.
        std::optional<std::vector<std::string>> kept;
        bool inKey = false;
        Key *current = nullptr;
    };
    bool read(std::string_view text, Reading &reading, std::string *error);
    bool parseLine(std::string_view line, Reading &reading, std::string *error);
    bool readKeyLine(std::string_view line, Reading &reading, std::string *error);
    // Appends a key and every key below it, parents first; false past maxBytes.
    bool appendKey(std::string &out, std::string &path, const Key &key, size_t maxBytes) const;
    void clear();

    std::string rootPath_;
    Key root_;
    bool rootPresent_ = false; // the root key exists once any key does
};

} // namespace kvd::platform
