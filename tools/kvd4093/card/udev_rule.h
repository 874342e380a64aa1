// The udev rule that lets users open the cards' USB device files: where
// udev reads rules, which rule file names a vendor:product pair, and the
// line that gives access to one.
#pragma once

#include <string>
#include <vector>

namespace kvd::tool {

// The rule the library installs (cmake/UdevRule.cmake).
constexpr char kUdevRuleName[] = "70-kvd4093.rules";
// What makes udev read its rules again and apply them to the devices present.
constexpr char kReloadUdevRules[] = "sudo udevadm control --reload-rules && sudo udevadm trigger";

// The folders udev reads rules from, the first taking precedence.
std::vector<std::string> udevRuleFolders();

// The rule file in `folders` with a line naming the pair "1209:0001", as
// udev reads them: a file in an earlier folder hides a file of the same name
// in a later one. Empty when no file names it.
std::string ruleNaming(const std::string &pair, const std::vector<std::string> &folders);

// The rule's line for the pair "1209:0001", as the installed rule writes it.
std::string udevRuleLine(const std::string &pair);

} // namespace kvd::tool
