#include "card/udev_rule.h"

// Reading udev's rules is Linux's (the Windows tool checks the card's driver
// service instead); the folders and the rule's line below are text anywhere.
#if !defined(_WIN32)
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <set>
#include <string_view>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kvd::tool {
namespace {

size_t skipBlanks(std::string_view line, size_t at) {
    while (at < line.size() && std::isspace(static_cast<unsigned char>(line[at])))
        ++at;
    return at;
}

bool isHex(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isxdigit(c) != 0; });
}

std::string lowerCase(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return lower;
}

// The four hex digits of a vendor or product attribute of the device or a
// parent, ATTR{idVendor}=="1209" or ATTRS{idVendor} == "1209", in lower case;
// empty when the line has none. One pass over the line: the blanks after one
// occurrence of the key are never those after another, so a line of any
// length costs its length.
std::string attributeValue(std::string_view line, std::string_view attribute) {
    const std::string key = "{" + std::string(attribute) + "}";
    for (size_t at = line.find(key); at != std::string_view::npos; at = line.find(key, at + 1)) {
        const std::string_view before = line.substr(0, at);
        if (!before.ends_with("ATTR") && !before.ends_with("ATTRS"))
            continue;
        size_t cursor = skipBlanks(line, at + key.size());
        if (line.substr(cursor, 2) != "==")
            continue;
        cursor = skipBlanks(line, cursor + 2);
        const std::string_view quoted = line.substr(cursor, 6);
        if (quoted.size() == 6 && quoted.front() == '"' && quoted.back() == '"' && isHex(quoted.substr(1, 4)))
            return lowerCase(quoted.substr(1, 4));
    }
    return {};
}

// "1209:0001" for a rule line naming both attributes; empty for any other line.
std::string pairNamedBy(std::string_view line) {
    const size_t text = line.find_first_not_of(" \t");
    if (text == std::string_view::npos || line[text] == '#')
        return {};
    const std::string vendor = attributeValue(line, "idVendor");
    const std::string product = attributeValue(line, "idProduct");
    return vendor.empty() || product.empty() ? std::string() : vendor + ":" + product;
}

std::string kindOf(mode_t mode) {
    if (S_ISFIFO(mode))
        return "a FIFO";
    if (S_ISCHR(mode))
        return "a character device";
    if (S_ISBLK(mode))
        return "a block device";
    if (S_ISSOCK(mode))
        return "a socket";
    if (S_ISDIR(mode))
        return "a folder";
    return "not a file";
}

// udev takes a rule file linked to /dev/null for an empty one: the way to
// disable a rule file of that name in a later folder.
bool isNullDevice(const struct stat &file) {
    struct stat null {};
    return S_ISCHR(file.st_mode) && ::stat("/dev/null", &null) == 0 && file.st_rdev == null.st_rdev;
}

struct RuleFile {
    std::string text;
    std::string problem; // why it was not read; empty when it was
};

std::string tooLarge() {
    return "larger than the " + std::to_string(kMaxUdevRuleFileMiB) + " MiB a rule file is read up to";
}

// The whole file when it is a regular file of at most kMaxUdevRuleFileBytes.
// Opened without waiting (a FIFO has no writer) and looked at through what
// was opened, so that nothing else is read whatever the name stands for.
RuleFile readRuleFile(const std::string &name) {
    const int descriptor = ::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0)
        return {"", std::string("cannot be opened: ") + std::strerror(errno)};
    RuleFile file;
    struct stat status {};
    if (::fstat(descriptor, &status) != 0)
        file.problem = std::string("cannot be read: ") + std::strerror(errno);
    else if (!S_ISREG(status.st_mode) && !isNullDevice(status))
        file.problem = kindOf(status.st_mode) + ", not a regular file";
    else if (status.st_size > static_cast<off_t>(kMaxUdevRuleFileBytes))
        file.problem = tooLarge();
    else {
        // One byte more than the limit tells a file that grew since fstat.
        file.text.resize(kMaxUdevRuleFileBytes + 1);
        size_t length = 0;
        ssize_t got = 0;
        while (length < file.text.size() &&
               (got = ::read(descriptor, file.text.data() + length, file.text.size() - length)) > 0)
            length += static_cast<size_t>(got);
        file.text.resize(length);
        if (got < 0)
            file.problem = std::string("cannot be read: ") + std::strerror(errno);
        else if (length > kMaxUdevRuleFileBytes)
            file.problem = tooLarge();
    }
    ::close(descriptor);
    return file;
}

// The rule files of a folder in name order, as udev reads them.
std::vector<std::filesystem::path> rulesIn(const std::string &folder) {
    std::vector<std::filesystem::path> files;
    std::error_code error;
    for (const auto &entry : std::filesystem::directory_iterator(folder, error))
        if (entry.path().extension() == ".rules")
            files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

void addPairsNamed(const std::string &file, const std::string &text, UdevRules &rules) {
    const std::string_view all(text);
    for (size_t start = 0; start < all.size();) {
        const size_t end = std::min(all.find('\n', start), all.size());
        const std::string pair = pairNamedBy(all.substr(start, end - start));
        if (!pair.empty())
            rules.fileNaming.emplace(pair, file); // the first file naming it stays
        start = end + 1;
    }
}

} // namespace

UdevRules readUdevRules(const std::vector<std::string> &folders) {
    UdevRules rules;
    std::set<std::string> seen;
    for (const std::string &folder : folders) {
        for (const std::filesystem::path &file : rulesIn(folder)) {
            if (!seen.insert(file.filename().string()).second)
                continue;
            const RuleFile read = readRuleFile(file.string());
            if (read.problem.empty())
                addPairsNamed(file.string(), read.text, rules);
            else
                rules.skipped.push_back(file.string() + ": " + read.problem);
        }
    }
    return rules;
}

} // namespace kvd::tool
#endif

namespace kvd::tool {

std::vector<std::string> udevRuleFolders() {
    return {"/etc/udev/rules.d", "/run/udev/rules.d", "/usr/lib/udev/rules.d", "/lib/udev/rules.d"};
}

std::string udevRuleLine(const std::string &pair) {
    const std::string vendor = pair.substr(0, 4);
    const std::string product = pair.substr(5, 4);
    return "SUBSYSTEM==\"usb\", ENV{DEVTYPE}==\"usb_device\", ATTR{idVendor}==\"" + vendor + "\", ATTR{idProduct}==\"" +
           product + "\", TAG+=\"uaccess\", GROUP=\"plugdev\", MODE=\"0660\"";
}

} // namespace kvd::tool
