// "did you mean acquire?" for a mistyped word.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace kvd::tool {

// The candidate closest to the word when it is close enough to be a typing
// slip (at most two letters added, dropped or changed, or the start of
// exactly one candidate); nothing otherwise.
std::optional<std::string> closestWord(const std::string &word, const std::vector<std::string> &candidates);

} // namespace kvd::tool
