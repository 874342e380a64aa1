// Runs a program in a child process, in a folder and environment of the
// test's choosing, and collects what it prints.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kvd::testing {

struct ChildResult {
    int exitCode;       // the exit status, or minus the signal that ended it
    std::string output; // everything it wrote to standard output
};

// Environment changes for a child: a name with a value sets it, with
// std::nullopt removes it. Everything else is inherited.
using Environment = std::vector<std::pair<std::string, std::optional<std::string>>>;

ChildResult runChild(const std::string &program, const std::vector<std::string> &arguments,
                     const std::string &folder, const Environment &changes);

} // namespace kvd::testing
