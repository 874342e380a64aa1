#include "common/english_rendering.h"

#include <algorithm>

#include "KVD4093_messages_english.h"

namespace kvd::tool {
namespace {

constexpr std::string_view kNumber = "%d";

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// The number a pattern's "%d" stands for in `logged`, when the rest matches;
// GBK's second bytes are never ASCII digits, so digits are whole characters.
bool fillsPattern(std::string_view pattern, std::string_view logged, std::string *number) {
    const size_t hole = pattern.find(kNumber);
    if (hole == std::string_view::npos)
        return pattern == logged;
    const std::string_view before = pattern.substr(0, hole), after = pattern.substr(hole + kNumber.size());
    if (logged.size() <= before.size() + after.size() || !logged.starts_with(before) || !logged.ends_with(after))
        return false;
    const std::string_view middle = logged.substr(before.size(), logged.size() - before.size() - after.size());
    const std::string_view digits = middle[0] == '-' ? middle.substr(1) : middle;
    if (digits.empty() || !std::all_of(digits.begin(), digits.end(), isDigit))
        return false;
    *number = middle;
    return true;
}

} // namespace

std::string englishRendering(std::string_view logged) {
    for (const messages::EnglishRendering &rendering : messages::kEnglishRenderings) {
        std::string number;
        if (!fillsPattern(rendering.logged, logged, &number))
            continue;
        std::string english = rendering.english;
        if (const size_t hole = english.find(kNumber); hole != std::string::npos)
            english.replace(hole, kNumber.size(), number);
        return english;
    }
    return {};
}

} // namespace kvd::tool
