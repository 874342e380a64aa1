// Runs a program in a child process, in a folder and environment of the
// test's choosing, and collects its exit status and what it prints.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace kvd::testing {

struct ChildResult {
    int exitCode = -1; // the exit status, or minus the signal that ended the child
    std::string out;   // everything it wrote to standard output
    std::string err;   // everything it wrote to standard error
};

// Environment changes for a child, applied in order over the inherited
// environment: a name with a value sets it, with std::nullopt removes it.
using Environment = std::vector<std::pair<std::string, std::optional<std::string>>>;

// Removes every inherited variable whose name starts with `prefix`.
Environment withoutInherited(const std::string &prefix);

// Where the child's standard error goes: a pipe, or a pseudo-terminal as
// when a person runs the program (what reaches the terminal is collected).
enum class StandardError { Pipe, Terminal };

// A started child. Standard input is /dev/null; standard output and error
// are collected by wait(). A child not waited for is killed at the end.
class ChildProcess {
public:
    ChildProcess(const std::string &program, const std::vector<std::string> &arguments, const std::string &folder,
                 const Environment &changes = {}, StandardError standardError = StandardError::Pipe);
    ~ChildProcess();
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;

    void signal(int number);
    pid_t pid() const { return pid_; }
    // Collects the output until the child ends, killing it once `timeout` has passed.
    ChildResult wait(std::chrono::milliseconds timeout = std::chrono::seconds(60));

private:
    pid_t pid_ = -1;
    int out_ = -1; // our ends of standard output and error; -1 once they are closed
    int err_ = -1;
};

// Starts a child and waits for it.
ChildResult runChild(const std::string &program, const std::vector<std::string> &arguments,
                     const std::string &folder, const Environment &changes = {});

} // namespace kvd::testing
