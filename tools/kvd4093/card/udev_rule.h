// The udev rule that lets users open the cards' USB device files: where
// udev reads rules, which rule file names a vendor:product pair, and the
// line that gives access to one.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

namespace kvd::tool {

// The rule the library installs (cmake/UdevRule.cmake).
constexpr char kUdevRuleName[] = "70-kvd4093.rules";
// What makes udev read its rules again and apply them to the devices present.
constexpr char kReloadUdevRules[] = "sudo udevadm control --reload-rules && sudo udevadm trigger";
// The most of a rule file that is read: udev's own files are a few KiB, so a
// larger one is not a rule file and is skipped rather than read without end.
constexpr size_t kMaxUdevRuleFileMiB = 1;
constexpr size_t kMaxUdevRuleFileBytes = kMaxUdevRuleFileMiB * 1024 * 1024;

// The folders udev reads rules from, the first taking precedence.
std::vector<std::string> udevRuleFolders();

// The rule files of the folders, read once as udev reads them: a file in an
// earlier folder hides a file of the same name in a later one.
struct UdevRules {
    std::map<std::string, std::string> fileNaming; // "1209:0001" -> the first file with a line naming it
    std::vector<std::string> skipped;              // "FILE: why it was not read", in the order met
};
UdevRules readUdevRules(const std::vector<std::string> &folders);

// The rule's line for the pair "1209:0001", as the installed rule writes it.
std::string udevRuleLine(const std::string &pair);

} // namespace kvd::tool
