// Runs the built kvd4093 tool as a child process, the way a person would:
// in a folder of the test's own, with HOME and XDG_CONFIG_HOME inside it, a
// UTF-8 locale, unpaced virtual cards and none listed, unless the test's
// environment changes say otherwise.
#pragma once

#include <string>
#include <vector>

#include "support/child_process.h"

namespace kvd::testing {

class ToolProcess : public ChildProcess {
public:
    ToolProcess(const std::string &folder, const std::vector<std::string> &arguments, const Environment &changes = {},
                StandardError standardError = StandardError::Pipe);
};

// Starts the tool and waits for it.
ChildResult runTool(const std::string &folder, const std::vector<std::string> &arguments,
                    const Environment &changes = {});

// Starts the tool under kvd4093-usb-sim with the given options of its own
// (--ids, --deny) and waits for both; only in builds with the emulated card.
ChildResult runToolOnEmulatedUsb(const std::string &folder, const std::vector<std::string> &simulatorOptions,
                                 const std::vector<std::string> &arguments, const Environment &changes = {});

} // namespace kvd::testing
