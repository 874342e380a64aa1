#include "common/suggestion.h"

#include <algorithm>
#include <cctype>

namespace kvd::tool {
namespace {

constexpr size_t kMostEdits = 2;
constexpr size_t kShortestStart = 2;

char lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

// Letters added, dropped or changed to turn one word into the other, case aside.
size_t editDistance(const std::string &from, const std::string &to) {
    std::vector<size_t> previous(to.size() + 1), current(to.size() + 1);
    for (size_t j = 0; j <= to.size(); ++j)
        previous[j] = j;
    for (size_t i = 1; i <= from.size(); ++i) {
        current[0] = i;
        for (size_t j = 1; j <= to.size(); ++j) {
            const size_t change = previous[j - 1] + (lower(from[i - 1]) == lower(to[j - 1]) ? 0 : 1);
            current[j] = std::min({change, previous[j] + 1, current[j - 1] + 1});
        }
        std::swap(previous, current);
    }
    return previous[to.size()];
}

bool startsWith(const std::string &candidate, const std::string &word) {
    return word.size() >= kShortestStart && word.size() < candidate.size() &&
           std::equal(word.begin(), word.end(), candidate.begin(), [](char a, char b) { return lower(a) == lower(b); });
}

} // namespace

std::optional<std::string> closestWord(const std::string &word, const std::vector<std::string> &candidates) {
    std::optional<std::string> best;
    size_t bestDistance = kMostEdits + 1;
    for (const std::string &candidate : candidates) {
        const size_t distance = editDistance(word, candidate);
        if (distance < bestDistance && distance < candidate.size()) {
            best = candidate;
            bestDistance = distance;
        }
    }
    if (best)
        return best;
    const auto starts = [&](const std::string &candidate) { return startsWith(candidate, word); };
    if (std::count_if(candidates.begin(), candidates.end(), starts) == 1)
        return *std::find_if(candidates.begin(), candidates.end(), starts);
    return std::nullopt;
}

} // namespace kvd::tool
