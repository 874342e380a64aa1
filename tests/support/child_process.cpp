// Child processes on POSIX: fork and execve (child_process_windows.cpp has
// the Windows counterpart).
#ifndef _WIN32
#include "support/child_process.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <map>
#include <poll.h>
#include <stdexcept>
#include <string_view>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace kvd::testing {
namespace {

std::string nameOf(const std::string &entry) { return entry.substr(0, entry.find('=')); }

std::vector<std::string> childEnvironment(const Environment &changes) {
    std::map<std::string, std::optional<std::string>> changed; // the last change of a name wins
    for (const auto &[name, value] : changes)
        changed.insert_or_assign(name, value);
    std::vector<std::string> entries;
    for (char **entry = environ; *entry != nullptr; ++entry)
        if (changed.count(nameOf(*entry)) == 0)
            entries.emplace_back(*entry);
    for (const auto &[name, value] : changed)
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

// One output of the child: our end to read, the child's end to write.
// Both close on exec, so no child keeps another's ends open.
struct Channel {
    int ours;
    int childs;
};

Channel pipeChannel() {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe");
    return {ends[0], ends[1]};
}

// A pseudo-terminal: we hold its controlling side. The terminal side is
// opened here, before the fork, so that it stays open until the child ends.
Channel terminalChannel() {
    const int ours = posix_openpt(O_RDWR | O_NOCTTY);
    if (ours < 0 || grantpt(ours) != 0 || unlockpt(ours) != 0 || fcntl(ours, F_SETFD, FD_CLOEXEC) != 0)
        throw std::runtime_error("no pseudo-terminal");
    const int childs = open(ptsname(ours), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (childs < 0)
        throw std::runtime_error("cannot open the pseudo-terminal");
    return {ours, childs};
}

// Appends what can be read now without waiting. At the end of the output
// (end of file, or EIO from a pseudo-terminal nobody writes to any more)
// our end is closed and set to -1.
void readAvailable(int &fd, std::string &into) {
    char buffer[4096];
    while (fd >= 0) {
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got > 0) {
            into.append(buffer, static_cast<size_t>(got));
        } else if (got < 0 && errno == EAGAIN) {
            return;
        } else if (got == 0 || errno != EINTR) {
            close(fd);
            fd = -1;
        }
    }
}

// Whether the child has ended; its status then is in *status.
bool ended(pid_t child, int *status, int options) {
    pid_t got;
    while ((got = waitpid(child, status, options)) < 0 && errno == EINTR) {
    }
    if (got < 0)
        throw std::runtime_error("waitpid");
    return got == child;
}

} // namespace

Environment withoutInherited(const std::string &prefix) {
    Environment removals;
    for (char **entry = environ; *entry != nullptr; ++entry)
        if (std::string_view(*entry).starts_with(prefix))
            removals.emplace_back(nameOf(*entry), std::nullopt);
    return removals;
}

ChildProcess::ChildProcess(const std::string &program, const std::vector<std::string> &arguments,
                           const std::string &folder, const Environment &changes, StandardError standardError) {
    // Everything the child needs is made before the fork: after it, only
    // calls that are safe in a child of a threaded process.
    std::vector<std::string> argumentTexts{program};
    argumentTexts.insert(argumentTexts.end(), arguments.begin(), arguments.end());
    std::vector<std::string> environmentTexts = childEnvironment(changes);
    const std::vector<char *> argv = pointers(argumentTexts);
    const std::vector<char *> envp = pointers(environmentTexts);
    const Channel out = pipeChannel();
    const Channel err = standardError == StandardError::Terminal ? terminalChannel() : pipeChannel();
    pid_ = fork();
    if (pid_ < 0)
        throw std::runtime_error("fork");
    if (pid_ == 0) {
        const int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (in >= 0 && dup2(in, STDIN_FILENO) >= 0 && dup2(out.childs, STDOUT_FILENO) >= 0 &&
            dup2(err.childs, STDERR_FILENO) >= 0 && chdir(folder.c_str()) == 0)
            execve(program.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    close(out.childs);
    close(err.childs);
    out_ = out.ours;
    err_ = err.ours;
    // Read without waiting, so that wait() can take from both and watch the time.
    fcntl(out_, F_SETFL, O_NONBLOCK);
    fcntl(err_, F_SETFL, O_NONBLOCK);
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    for (int fd : {out_, err_})
        if (fd >= 0)
            close(fd);
}

void ChildProcess::signal(int number) {
    if (pid_ > 0)
        kill(pid_, number);
}

ChildResult ChildProcess::wait(std::chrono::milliseconds timeout) {
    ChildResult result;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    int status = 0;
    // The outputs are read while the child runs: a child that fills a pipe
    // would otherwise wait for us forever.
    while (!ended(pid_, &status, WNOHANG)) {
        if (std::chrono::steady_clock::now() >= deadline) {
            kill(pid_, SIGKILL);
            ended(pid_, &status, 0);
            break;
        }
        pollfd outputs[] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}}; // a closed one (-1) is passed over
        poll(outputs, 2, 10);
        readAvailable(out_, result.out);
        readAvailable(err_, result.err);
    }
    pid_ = -1;
    readAvailable(out_, result.out);
    readAvailable(err_, result.err);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    return result;
}

ChildResult runChild(const std::string &program, const std::vector<std::string> &arguments,
                     const std::string &folder, const Environment &changes) {
    return ChildProcess(program, arguments, folder, changes).wait();
}

} // namespace kvd::testing
#endif // !_WIN32
