#include "facts/list_entries.h"

namespace kvd::facts {
namespace {

constexpr std::string_view kBlanks = " \t";

} // namespace

std::string_view trimmedOfBlanks(std::string_view text) {
    const size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

std::vector<std::string_view> listEntries(std::string_view text) {
    std::vector<std::string_view> entries;
    if (trimmedOfBlanks(text).empty())
        return entries;
    for (size_t start = 0;;) {
        const size_t comma = text.find(',', start);
        entries.push_back(trimmedOfBlanks(text.substr(start, comma - start)));
        if (comma == std::string_view::npos)
            return entries;
        start = comma + 1;
    }
}

} // namespace kvd::facts
