#include "platform/posix/registry_file.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <utility>

namespace kvd::platform {
namespace {

constexpr std::string_view kHeader = "REGEDIT4";
constexpr std::string_view kLineEnd = "\r\n";
constexpr std::string_view kDwordPrefix = "dword:";
constexpr std::string_view kGbkStringPrefix = "hex(1):";

// A GBK lead byte: it and the byte after it are one character, and that
// second byte may look like '\' or an ASCII letter without being one.
bool isLeadByte(unsigned char byte) { return byte >= 0x81 && byte <= 0xFE; }

// Upper-cases ASCII letters that stand alone, as the registry compares names.
std::string folded(std::string_view name) {
    std::string out(name);
    for (size_t i = 0; i < out.size(); ++i) {
        const auto byte = static_cast<unsigned char>(out[i]);
        if (isLeadByte(byte))
            ++i;
        else if (byte >= 'a' && byte <= 'z')
            out[i] = static_cast<char>(byte - 'a' + 'A');
    }
    return out;
}

bool hasLineBreak(std::string_view text) { return text.find_first_of("\r\n") != std::string_view::npos; }

// Names as a key line gives them against names already folded.
bool sameFoldedNames(const std::vector<std::string> &names, const std::vector<std::string> &foldedNames) {
    if (names.size() != foldedNames.size())
        return false;
    for (size_t i = 0; i < names.size(); ++i)
        if (folded(names[i]) != foldedNames[i])
            return false;
    return true;
}

// Splits a section into sub-key names at the '\' that are characters of their own.
bool splitSection(std::string_view section, std::vector<std::string> *names) {
    names->clear();
    if (section.empty())
        return true;
    std::string name;
    for (size_t i = 0; i < section.size(); ++i) {
        const auto byte = static_cast<unsigned char>(section[i]);
        if (byte == '\\') {
            names->push_back(std::move(name));
            name.clear();
            continue;
        }
        name.push_back(section[i]);
        if (isLeadByte(byte) && i + 1 < section.size())
            name.push_back(section[++i]);
    }
    names->push_back(std::move(name));
    if (names->size() > RegistryFile::kMaxKeyDepth)
        return false;
    for (const std::string &each : *names)
        if (each.empty() || hasLineBreak(each))
            return false;
    return true;
}

// ---- writing -------------------------------------------------------------

// regedit's escapes in a quoted text: '\' and '"' get a '\' before them.
void appendQuoted(std::string &out, std::string_view text) {
    out.push_back('"');
    for (char c : text) {
        if (c == '\\' || c == '"')
            out.push_back('\\');
        out.push_back(c);
    }
    out.push_back('"');
}

// A text with a line break cannot stand between quotes in a line-based
// file; it is written as the bytes of an ANSI string (hex(1)), which end at
// their only zero. A text with a zero of its own therefore stays quoted: only
// a hand-made quoted text gives one, and that never holds a line feed (its
// carriage returns stand between the quotes as they did).
bool writtenAsBytes(std::string_view text) {
    return hasLineBreak(text) && text.find('\0') == std::string_view::npos;
}

// hex(1): the text's bytes, then its zero.
void appendGbkBytes(std::string &out, std::string_view text) {
    out.append(kGbkStringPrefix);
    char digits[4];
    for (char c : text) {
        std::snprintf(digits, sizeof digits, "%02x,", static_cast<unsigned char>(c));
        out.append(digits);
    }
    out.append("00");
}

void appendValue(std::string &out, const RegistryValue &value) {
    if (value.name.empty())
        out.push_back('@');
    else
        appendQuoted(out, value.name);
    out.push_back('=');
    switch (value.kind) {
    case RegistryValue::Kind::Dword: {
        char digits[16];
        std::snprintf(digits, sizeof digits, "%08x", static_cast<unsigned>(value.dword));
        out.append(kDwordPrefix).append(digits);
        break;
    }
    case RegistryValue::Kind::String:
        if (writtenAsBytes(value.data))
            appendGbkBytes(out, value.data);
        else
            appendQuoted(out, value.data);
        break;
    case RegistryValue::Kind::Other: out.append(value.data); break;
    }
    out.append(kLineEnd);
}

// ---- reading ---------------------------------------------------------------

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

bool startsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

// Reads a quoted text at the start of *text and moves past it; false when
// it is not closed or holds an escape regedit does not write.
bool readQuoted(std::string_view *text, std::string *out) {
    if (text->empty() || text->front() != '"')
        return false;
    out->clear();
    for (size_t i = 1; i < text->size(); ++i) {
        const char c = (*text)[i];
        if (c == '"') {
            text->remove_prefix(i + 1);
            return true;
        }
        if (c == '\\') {
            if (i + 1 >= text->size() || ((*text)[i + 1] != '\\' && (*text)[i + 1] != '"'))
                return false;
            ++i;
        }
        out->push_back((*text)[i]);
    }
    return false;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// "dword:" with one to eight hex digits.
bool readDword(std::string_view text, uint32_t *value) {
    if (text.empty() || text.size() > 8)
        return false;
    *value = 0;
    for (char c : text) {
        const int digit = hexDigit(c);
        if (digit < 0)
            return false;
        *value = *value << 4 | static_cast<uint32_t>(digit);
    }
    return true;
}

// A hex list as regedit writes it: two-digit bytes separated by commas
// (the continuation lines are already joined).
bool readHexBytes(std::string_view text, std::string *out) {
    out->clear();
    for (text = trimmed(text); !text.empty();) {
        if (text.size() < 2 || hexDigit(text[0]) < 0 || hexDigit(text[1]) < 0)
            return false;
        out->push_back(static_cast<char>(hexDigit(text[0]) << 4 | hexDigit(text[1])));
        text = trimmed(text.substr(2));
        if (text.empty())
            break;
        if (text.front() != ',' || trimmed(text.substr(1)).empty())
            return false;
        text = trimmed(text.substr(1));
    }
    return true;
}

// "hex(1):" bytes of an ANSI string ending with its (only) zero.
bool readGbkBytes(std::string_view text, std::string *out) {
    if (!readHexBytes(text, out) || out->empty() || out->back() != '\0')
        return false;
    out->pop_back();
    return out->find('\0') == std::string::npos;
}

// Another registry type as regedit writes it: "hex:" or "hex(<type>):" and a hex list.
bool isOtherType(std::string_view text) {
    size_t listStart = 0;
    if (startsWith(text, "hex:")) {
        listStart = 4;
    } else if (startsWith(text, "hex(")) {
        const size_t close = text.find("):");
        if (close == std::string_view::npos || close == 4)
            return false;
        for (size_t i = 4; i < close; ++i)
            if (hexDigit(text[i]) < 0)
                return false;
        listStart = close + 2;
    } else {
        return false;
    }
    std::string bytes;
    return readHexBytes(text.substr(listStart), &bytes);
}

bool readData(std::string_view text, RegistryValue *value) {
    if (startsWith(text, "\"")) {
        value->kind = RegistryValue::Kind::String;
        return readQuoted(&text, &value->data) && trimmed(text).empty();
    }
    if (startsWith(text, kDwordPrefix)) {
        value->kind = RegistryValue::Kind::Dword;
        return readDword(text.substr(kDwordPrefix.size()), &value->dword);
    }
    if (startsWith(text, kGbkStringPrefix)) {
        value->kind = RegistryValue::Kind::String;
        return readGbkBytes(text.substr(kGbkStringPrefix.size()), &value->data);
    }
    value->kind = RegistryValue::Kind::Other;
    value->data = std::string(text);
    return isOtherType(text);
}

std::string lineError(size_t number, const char *why) { return "line " + std::to_string(number) + ": " + why; }

} // namespace

// ---- the tree ------------------------------------------------------------

RegistryFile::Key &RegistryFile::makeKey(const std::vector<std::string> &names) {
    // Every parent exists with its child, the root included, as in the registry.
    rootPresent_ = true;
    Key *key = &root_;
    for (const std::string &name : names) {
        auto [place, added] = key->children.try_emplace(folded(name));
        if (added) {
            place->second = std::make_unique<Key>();
            place->second->name = name;
        }
        key = place->second.get();
    }
    return *key;
}

const RegistryFile::Key *RegistryFile::findKey(const std::vector<std::string> &names) const {
    if (!rootPresent_)
        return nullptr;
    const Key *key = &root_;
    for (const std::string &name : names) {
        const auto child = key->children.find(folded(name));
        if (child == key->children.end())
            return nullptr;
        key = child->second.get();
    }
    return key;
}

RegistryFile::Key *RegistryFile::findKey(const std::vector<std::string> &names) {
    return const_cast<Key *>(std::as_const(*this).findKey(names));
}

void RegistryFile::clear() {
    root_ = Key{};
    rootPresent_ = false;
}

RegistryValue *RegistryFile::makeValue(const char *section, const char *name) {
    std::vector<std::string> names;
    if (section == nullptr || name == nullptr || hasLineBreak(name) || !splitSection(section, &names))
        return nullptr;
    return &valueOf(makeKey(names), name);
}

RegistryValue &RegistryFile::valueOf(Key &key, const std::string &name) {
    const auto [place, added] = key.byName.try_emplace(folded(name), key.values.size());
    if (added)
        key.values.push_back(RegistryValue{name, RegistryValue::Kind::String, 0, {}});
    return key.values[place->second];
}

const RegistryValue *RegistryFile::find(const char *section, const char *name) const {
    std::vector<std::string> names;
    if (section == nullptr || name == nullptr || !splitSection(section, &names))
        return nullptr;
    const Key *key = findKey(names);
    if (key == nullptr)
        return nullptr;
    const auto place = key->byName.find(folded(name));
    return place != key->byName.end() ? &key->values[place->second] : nullptr;
}

bool RegistryFile::setDword(const char *section, const char *name, uint32_t dword) {
    RegistryValue *value = makeValue(section, name);
    if (value == nullptr)
        return false;
    value->kind = RegistryValue::Kind::Dword;
    value->dword = dword;
    value->data.clear();
    return true;
}

bool RegistryFile::setString(const char *section, const char *name, std::string_view text) {
    // A C string ends at its zero; one inside could never be read back.
    RegistryValue *value = text.find('\0') == std::string_view::npos ? makeValue(section, name) : nullptr;
    if (value == nullptr)
        return false;
    value->kind = RegistryValue::Kind::String;
    value->dword = 0;
    value->data = std::string(text);
    return true;
}

bool RegistryFile::deleteSection(const char *section) {
    std::vector<std::string> names;
    if (section == nullptr || !splitSection(section, &names))
        return false;
    if (names.empty()) {
        clear();
        return true;
    }
    const std::string last = folded(names.back());
    names.pop_back();
    if (Key *parent = findKey(names))
        parent->children.erase(last);
    return true;
}

// ---- text ------------------------------------------------------------------

bool RegistryFile::appendKey(std::string &out, std::string &path, const Key &key, size_t maxBytes) const {
    out.append("[").append(path).append("]").append(kLineEnd);
    for (const RegistryValue &value : key.values)
        appendValue(out, value);
    out.append(kLineEnd);
    if (out.size() > maxBytes)
        return false;
    for (const auto &[foldedName, child] : key.children) {
        const size_t length = path.size();
        path.append("\\").append(child->name);
        const bool fits = appendKey(out, path, *child, maxBytes);
        path.resize(length);
        if (!fits)
            return false;
    }
    return true;
}

std::optional<std::string> RegistryFile::text(size_t maxBytes) const {
    std::string out(kHeader);
    out.append(kLineEnd).append(kLineEnd);
    std::string path = rootPath_;
    if (rootPresent_ && !appendKey(out, path, root_, maxBytes))
        return std::nullopt;
    return out;
}

std::string RegistryFile::text() const { return *text(SIZE_MAX); }

bool RegistryFile::readKeyLine(std::string_view line, Reading &reading, std::string *error) {
    if (line.back() != ']' || line.size() < 2) {
        *error = "a key line without its closing ']'";
        return false;
    }
    const std::string_view path = line.substr(1, line.size() - 2);
    const std::string_view below = path.substr(std::min(path.size(), rootPath_.size()));
    if (folded(path.substr(0, rootPath_.size())) != folded(rootPath_) || (!below.empty() && below[0] != '\\')) {
        *error = "a key outside " + rootPath_;
        return false;
    }
    std::vector<std::string> names;
    if (!splitSection(below.empty() ? below : below.substr(1), &names)) {
        *error = names.size() > kMaxKeyDepth ? "a key nested deeper than 512 levels" : "a key with an empty name";
        return false;
    }
    reading.inKey = true;
    reading.current = reading.keepAll || (reading.kept && sameFoldedNames(names, *reading.kept)) ? &makeKey(names)
                                                                                                : nullptr;
    return true;
}

bool RegistryFile::parseLine(std::string_view line, Reading &reading, std::string *error) {
    if (line.empty() || line.front() == ';') // blank lines and regedit's comments
        return true;
    if (line.front() == '[')
        return readKeyLine(line, reading, error);
    if (!reading.inKey) {
        *error = "a value before the first key";
        return false;
    }
    RegistryValue value;
    std::string_view rest = line;
    if (rest.front() == '@')
        rest.remove_prefix(1);
    else if (!readQuoted(&rest, &value.name)) {
        *error = "not a key, a value or a comment";
        return false;
    }
    rest = trimmed(rest);
    if (rest.empty() || rest.front() != '=') {
        *error = "a value name without '='";
        return false;
    }
    if (!readData(trimmed(rest.substr(1)), &value)) {
        *error = "a value that is not a string, a dword or a hex list";
        return false;
    }
    if (reading.current == nullptr) // a key not kept
        return true;
    // A later line for the same name wins, as an import does; the name keeps its first spelling.
    RegistryValue &stored = valueOf(*reading.current, value.name);
    value.name = stored.name;
    stored = std::move(value);
    return true;
}

bool RegistryFile::parse(std::string_view text, std::string *error) {
    Reading all;
    return read(text, all, error);
}

bool RegistryFile::parseSection(std::string_view text, const char *section, std::string *error) {
    Reading one;
    one.keepAll = false;
    if (std::vector<std::string> names; section != nullptr && splitSection(section, &names)) {
        for (std::string &name : names)
            name = folded(name);
        one.kept = std::move(names);
    }
    return read(text, one, error);
}

bool RegistryFile::read(std::string_view text, Reading &reading, std::string *error) {
    clear();
    if (text.empty())
        return true;
    size_t number = 0;
    while (!text.empty()) {
        // One logical line: hex lists go on over lines ending with ",\".
        std::string line;
        const size_t first = number + 1;
        for (;;) {
            const size_t end = text.find('\n');
            const std::string_view piece = trimmed(text.substr(0, end));
            text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
            ++number;
            if (piece.size() >= 2 && piece.substr(piece.size() - 2) == ",\\" && !text.empty()) {
                line.append(piece.substr(0, piece.size() - 1));
                continue;
            }
            line.append(piece);
            break;
        }
        std::string why;
        if (first == 1 ? line != kHeader : !parseLine(line, reading, &why)) {
            clear();
            if (error != nullptr)
                *error = lineError(first, first == 1 ? "the file does not start with REGEDIT4" : why.c_str());
            return false;
        }
    }
    return true;
}

} // namespace kvd::platform
