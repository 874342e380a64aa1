// Runs the built kvd4093 tool as a child process, the way a person would:
// in a directory of the test's own, with HOME and XDG_CONFIG_HOME inside it,
// a UTF-8 locale and unpaced virtual cards unless the test says otherwise.
#pragma once

#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

namespace kvd::testing {

struct ToolResult {
    int exitCode = -1; // the exit status, or 128 + signal when a signal ended it
    std::string out;   // standard output
    std::string err;   // standard error
};

// Environment entries for the child; an empty value removes the variable.
using Environment = std::map<std::string, std::string>;

class ToolProcess {
public:
    // Starts the tool in `directory` with the arguments, on top of the
    // defaults above (KVD4093_VIRTUAL_PACING=off, no KVD4093_VIRTUAL_CARDS).
    // With stderrIsTerminal, standard error is a pseudo-terminal, as when a
    // person runs the tool; what it receives comes back in ToolResult::err.
    ToolProcess(const std::string &directory, const std::vector<std::string> &arguments,
                const Environment &environment = {}, bool stderrIsTerminal = false);
    ~ToolProcess();
    ToolProcess(const ToolProcess &) = delete;
    ToolProcess &operator=(const ToolProcess &) = delete;

    void signal(int number);
    // Waits for the end (killing the tool after timeoutMs) and collects its output.
    ToolResult wait(int timeoutMs = 60000);

private:
    std::string directory_;
    pid_t pid_ = -1;
    int terminal_ = -1; // the pseudo-terminal's controlling side, when there is one
};

// Starts the tool and waits for it.
ToolResult runTool(const std::string &directory, const std::vector<std::string> &arguments,
                   const Environment &environment = {});

// The lines of a text, without their line ends.
std::vector<std::string> linesOf(const std::string &text);

} // namespace kvd::testing
