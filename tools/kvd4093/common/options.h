// The command line of one command, parsed against the command's option
// table (option_table.h): "--name VALUE", "--name=VALUE", "--flag", the
// short forms "-c 1" and "-c1", and positional words, in any order. An
// option's value is never taken for a positional word. The command takes
// its values by name and its positional words one by one; whatever it did
// not take is an unknown option or a stray word.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "common/option_table.h"

namespace kvd::tool {

class Arguments {
public:
    // Throws a usage error for an option without its value, a flag with one,
    // or an option given twice.
    Arguments(std::string command, const OptionTable &table, const std::vector<std::string> &words);

    const std::string &command() const { return command_; }

    // True when the command's table has --name.
    bool takes(std::string_view name) const;
    // The value of --name; nullopt when absent, "" for an option whose value
    // may be left out and was.
    std::optional<std::string> value(std::string_view name);
    // True when --name is present.
    bool flag(std::string_view name);
    // The next positional word, if any.
    std::optional<std::string> positional();

    // Fails with a usage error for anything not taken; an unknown option
    // close to one of the table is named as what was meant.
    void expectAllTaken() const;

private:
    const Option &row(std::string_view name, bool takesValue);

    std::string command_;
    const OptionTable &table_;
    std::map<std::string, std::string, std::less<>> given_; // by long name: the value, "" for a flag
    std::set<std::string, std::less<>> asked_;              // the names the command asked for
    std::vector<std::string> rest_;                         // unknown options and positional words, in order
};

// Whole numbers: decimal with an optional k (x1000) or M (x1000000) suffix,
// a fraction allowed before a suffix ("2.5k"), or hexadecimal "0x..".
// `what` names the value in the error message.
int64_t parseNumber(std::string_view text, std::string_view what);
// parseNumber limited to [low, high].
int64_t parseNumberIn(std::string_view text, std::string_view what, int64_t low, int64_t high);
// A positive duration in seconds: "500ms", "2s", "1.5s", "5m", "1h", or a
// bare number of seconds.
double parseDuration(std::string_view text, std::string_view what);

struct ChannelRange {
    int32_t first = 0;
    int32_t last = 0;
};
// "0-3" or a single channel "5"; first not above last. The card takes the
// low 8 bits of each (narrowing.h).
ChannelRange parseChannelRange(std::string_view text);

} // namespace kvd::tool
