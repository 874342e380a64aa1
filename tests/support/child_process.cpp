#include "support/child_process.h"

#include <cerrno>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace kvd::testing {
namespace {

std::vector<std::string> childEnvironment(const Environment &changes) {
    std::vector<std::string> entries;
    for (char **entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        const std::string name = text.substr(0, text.find('='));
        bool changed = false;
        for (const auto &change : changes)
            changed = changed || change.first == name;
        if (!changed)
            entries.push_back(text);
    }
    for (const auto &[name, value] : changes)
        if (value)
            entries.push_back(name + "=" + *value);
    return entries;
}

std::vector<char *> pointers(std::vector<std::string> &texts) {
    std::vector<char *> out;
    for (std::string &text : texts)
        out.push_back(text.data());
    out.push_back(nullptr);
    return out;
}

} // namespace

ChildResult runChild(const std::string &program, const std::vector<std::string> &arguments,
                     const std::string &folder, const Environment &changes) {
    // Everything the child needs is made before the fork: after it, only
    // calls that are safe in a child of a threaded process.
    std::vector<std::string> argumentTexts{program};
    argumentTexts.insert(argumentTexts.end(), arguments.begin(), arguments.end());
    std::vector<std::string> environmentTexts = childEnvironment(changes);
    std::vector<char *> argv = pointers(argumentTexts);
    std::vector<char *> envp = pointers(environmentTexts);
    int out[2];
    if (pipe(out) != 0)
        throw std::runtime_error("pipe");
    const pid_t child = fork();
    if (child < 0)
        throw std::runtime_error("fork");
    if (child == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        if (chdir(folder.c_str()) == 0)
            execve(program.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    close(out[1]);
    ChildResult result{0, {}};
    char buffer[4096];
    for (ssize_t got; (got = read(out[0], buffer, sizeof buffer)) != 0;)
        if (got > 0)
            result.output.append(buffer, static_cast<size_t>(got));
        else if (errno != EINTR)
            break;
    close(out[0]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    return result;
}

} // namespace kvd::testing
