#include "common/option_table.h"

#include <algorithm>

namespace kvd::tool {
namespace {

constexpr size_t kHelpColumn = 25; // where the help beside the names starts
constexpr size_t kLineWidth = 80;

// Every row of the table, then the help option's.
template <typename Visit> void forEachOption(const OptionTable &table, Visit visit) {
    for (const OptionGroup &group : table)
        for (const Option &option : group.options)
            visit(option);
    visit(helpOption());
}

// "  -r, --rate N", "  --virtual[=IDS]"
std::string namesAndValue(const Option &option) {
    std::string text = "  ";
    if (option.letter != 0)
        text.append("-").append(1, option.letter).append(", ");
    text.append("--").append(option.name);
    if (option.valueOptional)
        text.append("[=").append(option.value).append("]");
    else if (!option.value.empty())
        text.append(" ").append(option.value);
    return text;
}

// The help's lines at the help column; a line that starts with a space is
// a list of its own, set at its own indent.
std::string helpLines(const std::string &left, const std::string &help) {
    std::string text = left;
    if (left.size() + 2 <= kHelpColumn)
        text.resize(kHelpColumn, ' ');
    else
        text.append("\n").append(kHelpColumn, ' ');
    size_t start = 0;
    for (bool first = true; start < help.size(); first = false) {
        const size_t end = std::min(help.find('\n', start), help.size());
        const std::string line = help.substr(start, end - start);
        if (!first && line.starts_with(' '))
            text.append(line);
        else
            text.append(first ? "" : std::string(kHelpColumn, ' ')).append(line);
        text.append("\n");
        start = end + 1;
    }
    return text;
}

// "--CheckStsMode, --check-sts-mode, ...", wrapped at the help column.
std::string nameList(const std::vector<std::string> &names) {
    std::string text, line;
    for (size_t n = 0; n < names.size(); ++n) {
        const std::string word = "--" + names[n] + (n + 1 < names.size() ? "," : "");
        if (!line.empty() && kHelpColumn + line.size() + 1 + word.size() > kLineWidth) {
            text.append(kHelpColumn, ' ').append(line).append("\n");
            line.clear();
        }
        line.append(line.empty() ? "" : " ").append(word);
    }
    if (!line.empty())
        text.append(kHelpColumn, ' ').append(line).append("\n");
    return text;
}

} // namespace

const Option &helpOption() {
    static const Option help{.name = "help", .letter = 'h', .help = "this help"};
    return help;
}

const Option *findOption(const OptionTable &table, std::string_view name) {
    const Option *found = nullptr;
    forEachOption(table, [&](const Option &option) {
        if (!found && option.name == name)
            found = &option;
    });
    return found;
}

const Option *findShortOption(const OptionTable &table, char letter) {
    const Option *found = nullptr;
    forEachOption(table, [&](const Option &option) {
        if (!found && letter != 0 && option.letter == letter)
            found = &option;
    });
    return found;
}

std::vector<std::string> optionNames(const OptionTable &table) {
    std::vector<std::string> names;
    forEachOption(table, [&](const Option &option) { names.push_back(option.name); });
    return names;
}

std::string optionHelp(const OptionTable &table) {
    std::string text;
    std::vector<std::string> listed; // rows without help, named after the row before
    const auto flushListed = [&] {
        text += nameList(listed);
        listed.clear();
    };
    for (const OptionGroup &group : table) {
        flushListed();
        if (!group.heading.empty())
            text.append(group.heading).append("\n");
        for (const Option &option : group.options) {
            if (option.help.empty()) {
                listed.push_back(option.name);
                continue;
            }
            flushListed();
            text += helpLines(namesAndValue(option), option.help);
        }
    }
    flushListed();
    return text + helpLines(namesAndValue(helpOption()), helpOption().help);
}

std::string optionSpellings(const OptionTable &table) {
    std::string text;
    forEachOption(table, [&](const Option &option) {
        text.append(text.empty() ? "" : " ").append("--").append(option.name);
        if (option.letter != 0)
            text.append(" -").append(1, option.letter);
    });
    return text;
}

void append(OptionTable &table, const OptionTable &more) { table.insert(table.end(), more.begin(), more.end()); }

} // namespace kvd::tool
