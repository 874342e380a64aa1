// Runs the built kvd4093 tool as a child process, the way a person would:
// in a folder of the test's own, with HOME and XDG_CONFIG_HOME inside it, a
// UTF-8 locale, unpaced virtual cards and none listed, unless the test's
// environment changes say otherwise.
#pragma once

#include <string>
#include <vector>

#include "support/child_process.h"

namespace kvd::testing {

// The environment the tool runs in: the test's changes over the defaults above.
Environment toolEnvironment(const std::string &folder, const Environment &changes = {});

class ToolProcess : public ChildProcess {
public:
    ToolProcess(const std::string &folder, const std::vector<std::string> &arguments, const Environment &changes = {},
                StandardError standardError = StandardError::Pipe);
};

// Starts the tool and waits for it.
ChildResult runTool(const std::string &folder, const std::vector<std::string> &arguments,
                    const Environment &changes = {});

} // namespace kvd::testing
