// A command's options as one table: each option's long and short name,
// whether it takes a value and the value's name, and its help. The command
// line is parsed against it (options.h), and the command's help, the manual
// page and the bash completion (through `kvd4093 help --options`) are made
// from it, so that none of them can name an option the others do not.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kvd::tool {

struct Option {
    // Each member has its default, so that a row names only what it has.
    std::string name = {};      // --name
    char letter = 0;            // -l, or 0 for none
    std::string value = {};     // the value's name in the help ("N"); empty for a flag
    std::string help = {};      // lines after the first go under it; empty: listed by name after the row before
    bool valueOptional = false; // --name alone or --name=VALUE, never the next word
};

// Options under a heading of the help ("How much:"), or under none.
struct OptionGroup {
    std::string heading;
    std::vector<Option> options;
};

using OptionTable = std::vector<OptionGroup>;

// -h, --help: taken by every command besides the options of its table.
const Option &helpOption();

// The option spelled --name, or -l for its letter, in the table or the help
// option; null when there is none.
const Option *findOption(const OptionTable &table, std::string_view name);
const Option *findShortOption(const OptionTable &table, char letter);

// Every long name, the help option's last.
std::vector<std::string> optionNames(const OptionTable &table);

// The help's lines for the table: each group's heading, then a line (or
// more) per option, its names and value on the left and its help beside.
std::string optionHelp(const OptionTable &table);

// "--samples -n --time -t ...": every spelling, for the bash completion.
std::string optionSpellings(const OptionTable &table);

// The groups of the second table after those of the first.
void append(OptionTable &table, const OptionTable &more);

} // namespace kvd::tool
