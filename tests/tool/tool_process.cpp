#include "tool/tool_process.h"

#include "support/test_support.h"

#include <chrono>
#include <filesystem>
#include <regex>
#include <thread>

namespace kvd::testing {

Environment toolEnvironment(const std::string &folder, const Environment &changes) {
    // No inherited KVD4093_ variable (cards, pacing, trace) reaches the tool;
    // LC_ALL outranks LANG and every other LC_ variable.
    Environment environment = withoutInherited("KVD4093_");
    environment.insert(environment.end(), {{"HOME", folder + "/home"},
                                           {"XDG_CONFIG_HOME", folder + "/config"},
                                           {"LC_ALL", "C.UTF-8"},
                                           {"KVD4093_VIRTUAL_PACING", "off"}});
    environment.insert(environment.end(), changes.begin(), changes.end());
    return environment;
}

ToolProcess::ToolProcess(const std::string &folder, const std::vector<std::string> &arguments,
                         const Environment &changes, StandardError standardError)
    : ChildProcess(KVD4093_TOOL_PATH, arguments, folder, toolEnvironment(folder, changes), standardError) {}

ChildResult runTool(const std::string &folder, const std::vector<std::string> &arguments,
                    const Environment &changes) {
    return ToolProcess(folder, arguments, changes).wait();
}

bool hasContent(const std::string &path) {
    std::error_code error;
    const auto size = std::filesystem::file_size(path, error);
    return !error && size > 0;
}

void waitForContent(const std::string &path) {
    for (int waited = 0; waited < 20000 && !hasContent(path); waited += 10)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

void waitForText(const std::string &path, const std::string &text) {
    for (int waited = 0; waited < 20000 && readWholeFile(path).find(text) == std::string::npos; waited += 10)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

uint64_t acquiredScans(const std::string &out) {
    std::smatch match;
    if (!std::regex_search(out, match, std::regex("acquired ([0-9]+) scans")))
        return UINT64_MAX;
    return std::stoull(match[1]);
}

#if defined(KVD4093_USB_SIM_PATH)
ChildResult runOnEmulatedUsb(const std::string &folder, const std::vector<std::string> &simulatorOptions,
                             const std::vector<std::string> &command, const Environment &changes) {
    std::vector<std::string> arguments = simulatorOptions;
    arguments.push_back("--");
    arguments.insert(arguments.end(), command.begin(), command.end());
    return ChildProcess(KVD4093_USB_SIM_PATH, arguments, folder, toolEnvironment(folder, changes)).wait();
}

ChildResult runToolOnEmulatedUsb(const std::string &folder, const std::vector<std::string> &simulatorOptions,
                                 const std::vector<std::string> &arguments, const Environment &changes) {
    std::vector<std::string> command = {KVD4093_TOOL_PATH};
    command.insert(command.end(), arguments.begin(), arguments.end());
    return runOnEmulatedUsb(folder, simulatorOptions, command, changes);
}
#endif

} // namespace kvd::testing
