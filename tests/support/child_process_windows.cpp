// Child processes on Windows: CreateProcessA with an environment block of
// the test's making, standard input from NUL and pipes for standard output
// and error. A program named without a folder is the one beside this test
// program (the tests' child programs are built there, next to KVD4093.dll).
// runChild and withoutInherited are what the Windows build's tests use;
// ChildProcess, with its signals and pseudo-terminals, serves only tests
// that stay on POSIX.
#ifdef _WIN32
#include <windows.h>

#include <cstring>
#include <map>
#include <stdexcept>
#include <thread>

#include "support/child_process.h"

namespace kvd::testing {
namespace {

std::string besideThisProgram(const std::string &program) {
    if (program.find_first_of("\\/:") != std::string::npos)
        return program;
    char path[MAX_PATH];
    const std::string self(path, GetModuleFileNameA(nullptr, path, MAX_PATH));
    return self.substr(0, self.find_last_of("\\/") + 1) + program;
}

// Quoted as the C runtime splits a command line: backslashes before a quote doubled.
std::string quoted(const std::string &argument) {
    std::string out = "\"";
    size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        out.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
        backslashes = 0;
        out.push_back(c);
    }
    out.append(2 * backslashes, '\\');
    return out + "\"";
}

std::string upper(std::string text) {
    for (char &c : text)
        c = (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
    return text;
}

// The entries of this process's environment, "NAME=value" each.
std::vector<std::string> inheritedEntries() {
    std::vector<std::string> entries;
    char *strings = GetEnvironmentStringsA();
    for (const char *entry = strings; *entry != '\0'; entry += std::strlen(entry) + 1)
        entries.emplace_back(entry);
    FreeEnvironmentStringsA(strings);
    return entries;
}

// A name as Windows compares it: without case. Entries such as "=C:=C:\..."
// keep their leading '='.
std::string nameOf(const std::string &entry) { return upper(entry.substr(0, entry.find('=', 1))); }

// The inherited environment with the changes made: "NAME=value\0...\0\0".
std::string environmentBlock(const Environment &changes) {
    std::map<std::string, std::optional<std::string>> changed; // the last change of a name wins
    std::map<std::string, std::string> spelling;
    for (const auto &[name, value] : changes) {
        changed.insert_or_assign(upper(name), value);
        spelling.insert_or_assign(upper(name), name);
    }
    std::string block;
    for (const std::string &entry : inheritedEntries())
        if (changed.count(nameOf(entry)) == 0)
            block.append(entry).push_back('\0');
    for (const auto &[name, value] : changed)
        if (value)
            block.append(spelling[name] + "=" + *value).push_back('\0');
    block.push_back('\0');
    return block;
}

// Reads a pipe to its end on a thread of its own, so that neither output
// fills up while the other is read.
std::thread drain(HANDLE pipe, std::string &into) {
    return std::thread([pipe, &into] {
        char buffer[4096];
        DWORD got = 0;
        while (ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) && got > 0)
            into.append(buffer, got);
        CloseHandle(pipe);
    });
}

} // namespace

Environment withoutInherited(const std::string &prefix) {
    Environment removals;
    for (const std::string &entry : inheritedEntries())
        if (upper(entry).starts_with(upper(prefix)))
            removals.emplace_back(entry.substr(0, entry.find('=', 1)), std::nullopt);
    return removals;
}

ChildResult runChild(const std::string &program, const std::vector<std::string> &arguments,
                     const std::string &folder, const Environment &changes) {
    const std::string path = besideThisProgram(program);
    std::string commandLine = quoted(path);
    for (const std::string &argument : arguments)
        commandLine += " " + quoted(argument);
    std::string environment = environmentBlock(changes);

    // Only the child's ends are inheritable.
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    HANDLE outRead = nullptr, outWrite = nullptr, errRead = nullptr, errWrite = nullptr;
    if (!CreatePipe(&outRead, &outWrite, &inheritable, 0) || !CreatePipe(&errRead, &errWrite, &inheritable, 0))
        throw std::runtime_error("CreatePipe");
    SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);
    const HANDLE nothing = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                                       OPEN_EXISTING, 0, nullptr);

    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nothing;
    startup.hStdOutput = outWrite;
    startup.hStdError = errWrite;
    PROCESS_INFORMATION process{};
    const BOOL started = CreateProcessA(path.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0,
                                        environment.data(), folder.c_str(), &startup, &process);
    // The child holds its own copies: each pipe ends when the child's end closes.
    CloseHandle(outWrite);
    CloseHandle(errWrite);
    CloseHandle(nothing);
    if (!started) {
        CloseHandle(outRead);
        CloseHandle(errRead);
        throw std::runtime_error("CreateProcess " + path);
    }

    ChildResult result;
    std::thread out = drain(outRead, result.out);
    std::thread err = drain(errRead, result.err);
    WaitForSingleObject(process.hProcess, INFINITE);
    out.join();
    err.join();
    DWORD exitCode = 0;
    GetExitCodeProcess(process.hProcess, &exitCode);
    result.exitCode = static_cast<int>(exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return result;
}

} // namespace kvd::testing
#endif // _WIN32
