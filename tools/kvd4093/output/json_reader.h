// A small JSON reader for the files the tool writes itself (the raw
// binary's sidecar): objects, arrays, strings, numbers (kept as their text),
// true, false and null.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kvd::tool {

struct JsonValue {
    enum class Kind { Null, Boolean, Number, String, Array, Object };
    Kind kind = Kind::Null;
    bool boolean = false;
    std::string text; // a number's text, or a string's characters
    std::vector<JsonValue> items;
    std::vector<std::pair<std::string, JsonValue>> members;

    // The member of an object by name; nullptr when absent.
    const JsonValue *member(std::string_view name) const;
};

// Throws std::runtime_error saying where the text stops being JSON.
JsonValue parseJson(std::string_view text);

} // namespace kvd::tool
