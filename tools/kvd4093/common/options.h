// The command line of one command: options ("--name VALUE", "--name=VALUE",
// "--flag", and the short forms of the common ones: -c --card, -o --output,
// -r --rate, -n --samples, -t --time, -f --format, as "-c 1" or "-c1") and
// positional words, taken one by one by the command that knows them.
// Whatever is left at the end is an unknown option or a stray word.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kvd::tool {

class Arguments {
public:
    Arguments(std::string command, std::vector<std::string> words);

    const std::string &command() const { return command_; }

    // The value of --name (either spelling); nullopt when absent. Giving it
    // twice or without a value is a usage error.
    std::optional<std::string> value(std::string_view name);
    // True when --name is present (without a value).
    bool flag(std::string_view name);
    // The next positional word, if any.
    std::optional<std::string> positional();

    // Fails with a usage error for anything not taken; an unknown option
    // close to one the command asked for is named as what was meant.
    void expectAllTaken() const;

private:
    std::vector<std::string>::iterator find(std::string_view name);

    std::string command_;
    std::vector<std::string> words_;
    std::vector<std::string> asked_; // every option name the command looked for
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
