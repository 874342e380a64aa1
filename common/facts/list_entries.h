// The entries of a comma-separated list, as the variables' parsers split them.
#pragma once

#include <string_view>
#include <vector>

namespace kvd::facts {

// The text without the blanks (spaces, tabs) at either end.
std::string_view trimmedOfBlanks(std::string_view text);

// The blank-trimmed texts between commas; none for a blank text.
std::vector<std::string_view> listEntries(std::string_view text);

} // namespace kvd::facts
