// Child processes on Windows: CreateProcessA with an environment block of
// the test's making and a pipe for standard output. A program named without
// a folder is the one beside this test program (the tests' child programs
// are built there, next to KVD4093.dll).
#ifdef _WIN32
#include <windows.h>

#include <cstring>
#include <stdexcept>

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

bool sameName(const std::string &entry, const std::string &name) {
    return entry.size() > name.size() && entry[name.size()] == '=' &&
           CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, entry.c_str(), int(name.size()), name.c_str(),
                          int(name.size())) == CSTR_EQUAL;
}

// This process's environment with the changes made: "NAME=value\0...\0\0".
std::string environmentBlock(const Environment &changes) {
    std::string block;
    char *strings = GetEnvironmentStringsA();
    for (const char *entry = strings; *entry != '\0'; entry += std::strlen(entry) + 1) {
        const std::string text = entry;
        bool changed = false;
        for (const auto &change : changes)
            changed = changed || sameName(text, change.first);
        if (!changed)
            block.append(text).push_back('\0');
    }
    FreeEnvironmentStringsA(strings);
    for (const auto &[name, value] : changes)
        if (value)
            block.append(name + "=" + *value).push_back('\0');
    block.push_back('\0');
    return block;
}

} // namespace

ChildResult runChild(const std::string &program, const std::vector<std::string> &arguments,
                     const std::string &folder, const Environment &changes) {
    const std::string path = besideThisProgram(program);
    std::string commandLine = quoted(path);
    for (const std::string &argument : arguments)
        commandLine += " " + quoted(argument);
    std::string environment = environmentBlock(changes);

    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inheritable, 0))
        throw std::runtime_error("CreatePipe");
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0); // only the child's end is inherited

    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = writeEnd;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process{};
    const BOOL started = CreateProcessA(path.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0,
                                        environment.data(), folder.c_str(), &startup, &process);
    CloseHandle(writeEnd); // the child holds its own copy; the pipe ends when the child's does
    if (!started) {
        CloseHandle(readEnd);
        throw std::runtime_error("CreateProcess " + path);
    }

    ChildResult result{0, {}};
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) && got > 0)
        result.output.append(buffer, got);
    CloseHandle(readEnd);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD exitCode = 0;
    GetExitCodeProcess(process.hProcess, &exitCode);
    result.exitCode = static_cast<int>(exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return result;
}

} // namespace kvd::testing
#endif // _WIN32
