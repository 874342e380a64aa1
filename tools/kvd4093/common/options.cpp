#include "common/options.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "common/errors.h"
#include "common/suggestion.h"

namespace kvd::tool {

namespace {

bool isOption(const std::string &word) { return word.size() > 2 && word.compare(0, 2, "--") == 0; }

// "--name" or "--name=..." for this name.
bool names(const std::string &word, std::string_view name) {
    if (!isOption(word) || word.compare(2, name.size(), name) != 0)
        return false;
    return word.size() == 2 + name.size() || word[2 + name.size()] == '=';
}

std::string quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

// The units a duration may end in, "ms" before "m" and "s".
struct DurationUnit {
    std::string_view suffix;
    double seconds;
};
constexpr DurationUnit kDurationUnits[] = {{"ms", 1e-3}, {"s", 1}, {"m", 60}, {"h", 3600}};

// The short options and the long ones they stand for.
struct ShortOption {
    char letter;
    const char *name;
};
constexpr ShortOption kShortOptions[] = {{'c', "card"},    {'o', "output"}, {'r', "rate"},
                                         {'n', "samples"}, {'t', "time"},   {'f', "format"}};

// "-c" as "--card", "-c3" as "--card=3"; any other word as it is ("-" for
// standard output, "-5" for a negative number).
std::string longForm(const std::string &word) {
    if (word.size() < 2 || word[0] != '-' || word[1] == '-')
        return word;
    for (const ShortOption &option : kShortOptions) {
        if (word[1] != option.letter)
            continue;
        std::string expanded = std::string("--").append(option.name);
        if (word.size() > 2)
            expanded.append("=").append(word, 2);
        return expanded;
    }
    return word;
}

} // namespace

Arguments::Arguments(std::string command, std::vector<std::string> words)
    : command_(std::move(command)), words_(std::move(words)), asked_{"help", "virtual"} {
    std::transform(words_.begin(), words_.end(), words_.begin(), longForm);
}

std::vector<std::string>::iterator Arguments::find(std::string_view name) {
    asked_.emplace_back(name);
    return std::find_if(words_.begin(), words_.end(), [&](const std::string &word) { return names(word, name); });
}

std::optional<std::string> Arguments::value(std::string_view name) {
    auto option = find(name);
    if (option == words_.end())
        return std::nullopt;
    const std::string dashed = "--" + std::string(name);
    std::string found;
    if (option->size() > dashed.size()) {
        found = option->substr(dashed.size() + 1);
        words_.erase(option);
    } else {
        if (option + 1 == words_.end() || isOption(option[1]))
            throw UsageError(dashed + " needs a value");
        found = option[1];
        words_.erase(option, option + 2);
    }
    if (find(name) != words_.end())
        throw UsageError(dashed + " is given twice");
    return found;
}

bool Arguments::flag(std::string_view name) {
    auto option = find(name);
    if (option == words_.end())
        return false;
    if (option->size() != name.size() + 2)
        throw UsageError("--" + std::string(name) + " takes no value");
    words_.erase(option);
    return true;
}

std::optional<std::string> Arguments::positional() {
    auto word = std::find_if(words_.begin(), words_.end(), [](const std::string &w) { return !isOption(w); });
    if (word == words_.end())
        return std::nullopt;
    std::string found = *word;
    words_.erase(word);
    return found;
}

void Arguments::expectAllTaken() const {
    if (words_.empty())
        return;
    const std::string &word = words_.front();
    if (isOption(word)) {
        const std::string option = word.substr(0, word.find('='));
        const std::optional<std::string> meant = closestWord(option.substr(2), asked_);
        throw UsageError("unknown option " + option + " for " + command_ +
                         (meant ? " (did you mean --" + *meant + "?)" : ""));
    }
    throw UsageError("unexpected " + quoted(word) + " for " + command_);
}

int64_t parseNumber(std::string_view text, std::string_view what) {
    const std::string word(text);
    const auto bad = [&] {
        return UsageError(std::string(what) + ": " + quoted(text) + " is not a whole number");
    };
    if (word.empty())
        throw bad();
    char *end = nullptr;
    errno = 0;
    if (word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X')) {
        const long long value = std::strtoll(word.c_str() + 2, &end, 16);
        if (*end != '\0' || end == word.c_str() + 2 || errno != 0)
            throw bad();
        return value;
    }
    const double number = std::strtod(word.c_str(), &end);
    if (end == word.c_str() || errno != 0 || word.find_first_of("xXeEnNiI") != std::string::npos)
        throw bad();
    double scale = 1;
    const std::string_view suffix(end);
    if (suffix == "k")
        scale = 1e3;
    else if (suffix == "M")
        scale = 1e6;
    else if (!suffix.empty())
        throw bad();
    const double value = number * scale;
    if (value != std::floor(value) || std::fabs(value) > 9e15)
        throw bad();
    return static_cast<int64_t>(value);
}

int64_t parseNumberIn(std::string_view text, std::string_view what, int64_t low, int64_t high) {
    const int64_t value = parseNumber(text, what);
    if (value < low || value > high)
        throw UsageError(std::string(what) + ": " + std::to_string(value) + " is not between " +
                         std::to_string(low) + " and " + std::to_string(high));
    return value;
}

double parseDuration(std::string_view text, std::string_view what) {
    std::string word(text);
    double scale = 1;
    for (const DurationUnit &unit : kDurationUnits) {
        if (word.size() > unit.suffix.size() && word.ends_with(unit.suffix)) {
            scale = unit.seconds;
            word.resize(word.size() - unit.suffix.size());
            break;
        }
    }
    char *end = nullptr;
    const double value = std::strtod(word.c_str(), &end);
    if (word.empty() || *end != '\0' || !(value > 0) || !std::isfinite(value) ||
        word.find_first_of("xXeEnNiI") != std::string::npos)
        throw UsageError(std::string(what) + ": " + quoted(text) +
                         " is not a duration such as 500ms, 2s, 5m or 1h");
    return value * scale;
}

ChannelRange parseChannelRange(std::string_view text) {
    const size_t dash = text.find('-', 1);
    ChannelRange range;
    range.first = static_cast<int32_t>(parseNumberIn(text.substr(0, dash), "--channels", 0, INT32_MAX));
    range.last = dash == std::string_view::npos
                     ? range.first
                     : static_cast<int32_t>(parseNumberIn(text.substr(dash + 1), "--channels", 0, INT32_MAX));
    if (range.last < range.first)
        throw UsageError("--channels: " + quoted(text) + " ends before it starts");
    return range;
}

} // namespace kvd::tool
