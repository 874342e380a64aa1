#include "card/udev_rule.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>

namespace kvd::tool {
namespace {

// A vendor or product attribute of the device or a parent: ATTR{idVendor}=="1209".
std::string attributeValue(const std::string &line, const char *attribute) {
    const std::regex pattern(std::string("ATTRS?\\{") + attribute + "\\}\\s*==\\s*\"([0-9A-Fa-f]{4})\"");
    std::smatch match;
    if (!std::regex_search(line, match, pattern))
        return {};
    std::string value = match[1];
    std::transform(value.begin(), value.end(), value.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return value;
}

bool fileNames(const std::filesystem::path &file, const std::string &pair) {
    std::ifstream rules(file);
    std::string line;
    while (std::getline(rules, line)) {
        const size_t text = line.find_first_not_of(" \t");
        if (text == std::string::npos || line[text] == '#')
            continue;
        if (attributeValue(line, "idVendor") + ":" + attributeValue(line, "idProduct") == pair)
            return true;
    }
    return false;
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

} // namespace

std::vector<std::string> udevRuleFolders() {
    return {"/etc/udev/rules.d", "/run/udev/rules.d", "/usr/lib/udev/rules.d", "/lib/udev/rules.d"};
}

std::string ruleNaming(const std::string &pair, const std::vector<std::string> &folders) {
    std::set<std::string> seen;
    for (const std::string &folder : folders) {
        for (const std::filesystem::path &file : rulesIn(folder)) {
            if (!seen.insert(file.filename().string()).second)
                continue;
            if (fileNames(file, pair))
                return file.string();
        }
    }
    return {};
}

std::string udevRuleLine(const std::string &pair) {
    const std::string vendor = pair.substr(0, 4);
    const std::string product = pair.substr(5, 4);
    return "SUBSYSTEM==\"usb\", ENV{DEVTYPE}==\"usb_device\", ATTR{idVendor}==\"" + vendor + "\", ATTR{idProduct}==\"" +
           product + "\", TAG+=\"uaccess\", GROUP=\"plugdev\", MODE=\"0660\"";
}

} // namespace kvd::tool
