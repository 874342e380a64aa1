#include "tool/tool_process.h"

#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "support/test_support.h"

extern char **environ;

namespace kvd::testing {
namespace {

bool dropped(const std::string &entry) {
    for (const char *prefix : {"KVD4093_", "LANG=", "LC_", "HOME=", "XDG_CONFIG_HOME="})
        if (entry.rfind(prefix, 0) == 0)
            return true;
    return false;
}

std::vector<std::string> childEnvironment(const std::string &directory, const Environment &overrides) {
    Environment wanted = {{"HOME", directory + "/home"},
                          {"XDG_CONFIG_HOME", directory + "/config"},
                          {"LC_ALL", "C.UTF-8"},
                          {"KVD4093_VIRTUAL_PACING", "off"}};
    for (const auto &[name, value] : overrides)
        wanted[name] = value;
    std::vector<std::string> entries;
    for (char **entry = environ; *entry != nullptr; ++entry)
        if (!dropped(*entry))
            entries.emplace_back(*entry);
    for (const auto &[name, value] : wanted)
        if (!value.empty())
            entries.push_back(name + "=" + value);
    return entries;
}

std::vector<char *> pointersTo(std::vector<std::string> &texts) {
    std::vector<char *> pointers;
    for (std::string &text : texts)
        pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

} // namespace

ToolProcess::ToolProcess(const std::string &directory, const std::vector<std::string> &arguments,
                         const Environment &environment, bool stderrIsTerminal)
    : directory_(directory) {
    std::vector<std::string> argv = {KVD4093_TOOL_PATH};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<std::string> envp = childEnvironment(directory, environment);
    std::vector<char *> argvPointers = pointersTo(argv);
    std::vector<char *> envpPointers = pointersTo(envp);
    std::string errPath = directory + "/tool.stderr";
    const std::string outPath = directory + "/tool.stdout";
    if (stderrIsTerminal) {
        terminal_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (terminal_ < 0 || grantpt(terminal_) != 0 || unlockpt(terminal_) != 0)
            throw std::runtime_error("no pseudo-terminal");
        errPath = ptsname(terminal_);
    }

    pid_ = fork();
    if (pid_ < 0)
        throw std::runtime_error("fork failed");
    if (pid_ == 0) { // only async-signal-safe calls until exec
        const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOCTTY, 0600);
        const int in = open("/dev/null", O_RDONLY);
        if (out < 0 || err < 0 || in < 0 || chdir(directory.c_str()) != 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 ||
            dup2(in, 0) < 0)
            _exit(127);
        execve(argvPointers[0], argvPointers.data(), envpPointers.data());
        _exit(127);
    }
}

ToolProcess::~ToolProcess() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (terminal_ >= 0)
        close(terminal_);
}

namespace {

// What the tool wrote to the terminal; it has ended, so the reads end.
std::string drain(int terminal) {
    std::string text;
    char buffer[4096];
    for (ssize_t got; (got = read(terminal, buffer, sizeof buffer)) > 0;)
        text.append(buffer, size_t(got));
    return text;
}

} // namespace

void ToolProcess::signal(int number) { kill(pid_, number); }

ToolResult ToolProcess::wait(int timeoutMs) {
    ToolResult result;
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (waitpid(pid_, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    pid_ = -1;
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.out = readWholeFile(directory_ + "/tool.stdout");
    if (terminal_ >= 0) {
        fcntl(terminal_, F_SETFL, O_NONBLOCK);
        result.err = drain(terminal_);
    } else {
        result.err = readWholeFile(directory_ + "/tool.stderr");
    }
    return result;
}

ToolResult runTool(const std::string &directory, const std::vector<std::string> &arguments,
                   const Environment &environment) {
    return ToolProcess(directory, arguments, environment).wait();
}

std::vector<std::string> linesOf(const std::string &text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

} // namespace kvd::testing
