#include "common/options.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <stdexcept>

#include "common/errors.h"
#include "common/suggestion.h"

namespace kvd::tool {

namespace {

bool isOption(const std::string &word) { return word.size() > 2 && word.compare(0, 2, "--") == 0; }

// An option as written: "--name", "--name=VALUE", "-l" or "-lVALUE".
struct Spelling {
    const Option *option = nullptr; // null: no option of the table
    std::optional<std::string> attached;
};

Spelling spelling(const OptionTable &table, const std::string &word) {
    if (isOption(word)) {
        const size_t equals = word.find('=');
        Spelling spelled{findOption(table, std::string_view(word).substr(2, equals - 2)), std::nullopt};
        if (equals != std::string::npos)
            spelled.attached = word.substr(equals + 1);
        return spelled;
    }
    // Any other word starting with one dash ("-" for standard output, "-5")
    // is no option unless its letter is one.
    if (word.size() < 2 || word[0] != '-' || word[1] == '-')
        return {};
    Spelling spelled{findShortOption(table, word[1]), std::nullopt};
    if (word.size() > 2)
        spelled.attached = word.substr(2);
    return spelled;
}

std::string quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

// The units a duration may end in, "ms" before "m" and "s".
struct DurationUnit {
    std::string_view suffix;
    double seconds;
};
constexpr DurationUnit kDurationUnits[] = {{"ms", 1e-3}, {"s", 1}, {"m", 60}, {"h", 3600}};

} // namespace

Arguments::Arguments(std::string command, const OptionTable &table, const std::vector<std::string> &words)
    : command_(std::move(command)), table_(table) {
    for (auto word = words.begin(); word != words.end(); ++word) {
        Spelling spelled = spelling(table, *word);
        if (!spelled.option) {
            rest_.push_back(*word);
            continue;
        }
        const Option &option = *spelled.option;
        const std::string dashed = "--" + option.name;
        if (option.value.empty() && spelled.attached)
            throw UsageError(dashed + " takes no value");
        // "--virtual=" says a value comes and gives none: not the bare form.
        if (option.valueOptional && spelled.attached && spelled.attached->empty())
            throw UsageError(dashed + "= needs a value after the =");
        if (!option.value.empty() && !option.valueOptional && !spelled.attached) {
            if (word + 1 == words.end() || isOption(word[1]))
                throw UsageError(dashed + " needs a value");
            spelled.attached = *++word;
        }
        if (!given_.emplace(option.name, spelled.attached.value_or("")).second)
            throw UsageError(dashed + " is given twice");
    }
}

bool Arguments::takes(std::string_view name) const { return findOption(table_, name) != nullptr; }

// Asking for an option the table lacks, or in the wrong kind, is a fault of
// the command's code, not of the command line.
const Option &Arguments::row(std::string_view name, bool takesValue) {
    const Option *option = findOption(table_, name);
    if (!option || option->value.empty() == takesValue)
        throw std::logic_error(command_ + " asks for --" + std::string(name) + ", which its option table " +
                               (option ? "has as another kind" : "lacks"));
    asked_.emplace(name);
    return *option;
}

std::optional<std::string> Arguments::value(std::string_view name) {
    row(name, true);
    const auto found = given_.find(name);
    return found == given_.end() ? std::nullopt : std::optional<std::string>(found->second);
}

bool Arguments::flag(std::string_view name) {
    row(name, false);
    return given_.contains(name);
}

std::optional<std::string> Arguments::positional() {
    auto word = std::find_if(rest_.begin(), rest_.end(), [](const std::string &w) { return !isOption(w); });
    if (word == rest_.end())
        return std::nullopt;
    std::string found = *word;
    rest_.erase(word);
    return found;
}

void Arguments::expectAllTaken() const {
    if (!rest_.empty()) {
        const std::string &word = rest_.front();
        if (isOption(word)) {
            const std::string option = word.substr(0, word.find('='));
            const std::optional<std::string> meant = closestWord(option.substr(2), optionNames(table_));
            throw UsageError("unknown option " + option + " for " + command_ +
                             (meant ? " (did you mean --" + *meant + "?)" : ""));
        }
        throw UsageError("unexpected " + quoted(word) + " for " + command_);
    }
    // An option of the table that this use of the command has no use for
    // (settings show --rate 5k).
    for (const auto &[name, value] : given_)
        if (!asked_.contains(name))
            throw UsageError("--" + name + " does not go with " + command_ + " as given here");
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
