// Starting a program or opening a document on POSIX, with WinExec's results.
//
// The library forms its paths with '\' (the help document below the
// installation folder), so '\' reads as a directory separator here. The
// command line is one path; no arguments are split off. A file the caller
// may execute is started itself; any other file is handed to xdg-open. Both
// go through "/bin/sh -c '... &'": the shell puts the program in the
// background and ends at once, so the program is not our child, no zombie
// is left behind and no thread has to wait for it. There are no windows, so
// the show state has nothing to act on.
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/platform.h"

extern char **environ;

namespace kvd::platform {
namespace {

// WinExec's results.
constexpr uint32_t kOutOfResources = 0;
constexpr uint32_t kFileNotFound = 2;
constexpr uint32_t kPathNotFound = 3;
constexpr uint32_t kBadFormat = 11;
constexpr uint32_t kStarted = 33; // any value above 31 means success

std::string posixPath(const char *commandLine) {
    std::string path(commandLine);
    for (char &c : path)
        if (c == '\\')
            c = '/';
    if (path.find('/') == std::string::npos)
        path = "./" + path; // a bare name means the current directory, never a search of PATH
    return path;
}

bool isDirectory(const std::string &path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Why a path names no file: its folder is there (file not found) or not (path not found).
uint32_t missingFileResult(const std::string &path) {
    const std::string folder = path.substr(0, path.find_last_of('/') + 1);
    return isDirectory(folder.empty() ? "." : folder) ? kFileNotFound : kPathNotFound;
}

bool onSearchPath(const char *program) {
    const char *searchPath = std::getenv("PATH");
    std::string folders = searchPath ? searchPath : "";
    size_t start = 0;
    while (start <= folders.size()) {
        const size_t end = std::min(folders.find(':', start), folders.size());
        const std::string folder = folders.substr(start, end - start);
        if (!folder.empty() && ::access((folder + "/" + program).c_str(), X_OK) == 0)
            return true;
        start = end + 1;
    }
    return false;
}

// Runs script in /bin/sh with the path as $0 and waits for the shell only.
uint32_t runInBackground(const char *script, const std::string &path) {
    const char *arguments[] = {"sh", "-c", script, path.c_str(), nullptr};
    pid_t shell = 0;
    if (posix_spawn(&shell, "/bin/sh", nullptr, nullptr, const_cast<char **>(arguments), environ) != 0)
        return kOutOfResources;
    int status = 0;
    while (::waitpid(shell, &status, 0) < 0)
        if (errno != EINTR)
            return kOutOfResources;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? kStarted : kOutOfResources;
}

} // namespace

uint32_t startProgram(const char *commandLine, uint32_t) {
    if (commandLine == nullptr || *commandLine == '\0')
        return kFileNotFound;
    const std::string path = posixPath(commandLine);
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return errno == ENOTDIR ? kPathNotFound : missingFileResult(path);
    if (S_ISDIR(info.st_mode))
        return kBadFormat;
    if (::access(path.c_str(), X_OK) == 0)
        return runInBackground("\"$0\" </dev/null >/dev/null 2>&1 &", path);
    if (!onSearchPath("xdg-open"))
        return kBadFormat; // a document, and nothing here opens documents
    return runInBackground("xdg-open \"$0\" </dev/null >/dev/null 2>&1 &", path);
}

} // namespace kvd::platform
