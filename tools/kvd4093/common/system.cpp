#include "common/system.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <ctime>

#if defined(_WIN32)
#include <io.h>
#include <windows.h>
#include <shellapi.h>
#else
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;
#endif

namespace kvd::tool {
namespace {

constexpr int kDefaultColumns = 80;

// Set by the signal handler, read by the thread that stops the card: a
// lock-free atomic is safe in a handler and between threads alike.
std::atomic<int> stopSignalSeen{0};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler may only touch a lock-free atomic");

extern "C" void onStopSignal(int signal) {
    int none = 0;
    stopSignalSeen.compare_exchange_strong(none, signal);
#if defined(_WIN32)
    std::signal(signal, SIG_DFL);
#endif
}

int columnsFromEnvironment() {
    const char *columns = std::getenv("COLUMNS");
    const int value = columns ? std::atoi(columns) : 0;
    return value > 0 ? value : kDefaultColumns;
}

} // namespace

bool isTerminal(std::FILE *stream) {
#if defined(_WIN32)
    return _isatty(_fileno(stream)) != 0;
#else
    return isatty(fileno(stream)) != 0;
#endif
}

int terminalColumns(std::FILE *stream) {
#if defined(_WIN32)
    CONSOLE_SCREEN_BUFFER_INFO info;
    const HANDLE console = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    if (GetConsoleScreenBufferInfo(console, &info))
        return info.srWindow.Right - info.srWindow.Left + 1;
#else
    struct winsize size = {};
    if (ioctl(fileno(stream), TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
#endif
    return columnsFromEnvironment();
}

void printUtf8(const std::string &text) {
#if defined(_WIN32)
    const HANDLE console = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stdout)));
    DWORD mode = 0;
    if (GetConsoleMode(console, &mode)) {
        std::wstring wide(text.size(), L'\0');
        wide.resize(MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), wide.data(), int(wide.size())));
        std::fflush(stdout);
        DWORD written = 0;
        WriteConsoleW(console, wide.data(), DWORD(wide.size()), &written, nullptr);
        return;
    }
#endif
    std::fputs(text.c_str(), stdout);
}

void setEnvironment(const char *name, const char *value) {
#if defined(_WIN32)
    _putenv_s(name, value);
#else
    setenv(name, value, 1);
#endif
}

void reportBrokenPipesAsErrors() {
#if !defined(_WIN32)
    std::signal(SIGPIPE, SIG_IGN);
#endif
}

void watchStopSignals() {
#if defined(_WIN32)
    std::signal(SIGINT, onStopSignal);
    std::signal(SIGTERM, onStopSignal);
#else
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction action = {};
        action.sa_handler = onStopSignal;
        // A second Ctrl-C is not caught: a person's way out of a stop that
        // never completes. SIGTERM and SIGHUP may come twice from one sender
        // (timeout signals the process and then its group): the stop under
        // way goes on. A call the signal interrupts (opening a FIFO that
        // waits for its reader) carries on rather than failing: the stop is
        // the acquisition's business.
        action.sa_flags = SA_RESTART | (signal == SIGINT ? SA_RESETHAND : 0);
        sigemptyset(&action.sa_mask);
        sigaction(signal, &action, nullptr);
    }
#endif
}

int stopSignal() { return stopSignalSeen.load(); }

std::string signalName(int signal) {
    switch (signal) {
    case SIGINT: return "Ctrl-C";
    case SIGTERM: return "SIGTERM";
#if !defined(_WIN32)
    case SIGHUP: return "SIGHUP";
#endif
    default: return "signal " + std::to_string(signal);
    }
}

bool openInBrowser(const std::string &address) {
#if defined(_WIN32)
    return reinterpret_cast<intptr_t>(ShellExecuteA(nullptr, "open", address.c_str(), nullptr, nullptr,
                                                    SW_SHOWNORMAL)) > 32;
#else
    char program[] = "xdg-open";
    std::string argument = address;
    char *arguments[] = {program, argument.data(), nullptr};
    pid_t child = 0;
    if (posix_spawnp(&child, program, nullptr, nullptr, arguments, environ) != 0)
        return false;
    int status = 0;
    return waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
#endif
}

std::string utcTimestamp() { return utcTimestamp(std::chrono::system_clock::now()); }

int processId() {
#if defined(_WIN32)
    return int(GetCurrentProcessId());
#else
    return int(getpid());
#endif
}

std::string hostName() {
#if defined(_WIN32)
    char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof name;
    return GetComputerNameA(name, &size) ? std::string(name, size) : std::string();
#else
    char name[256] = {};
    return gethostname(name, sizeof name - 1) == 0 ? std::string(name) : std::string();
#endif
}

std::string utcTimestamp(std::chrono::system_clock::time_point now) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto milliseconds =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm utc = {};
#if defined(_WIN32)
    gmtime_s(&utc, &seconds);
#else
    gmtime_r(&seconds, &utc);
#endif
    char text[80];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                  utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, int(milliseconds));
    return text;
}

} // namespace kvd::tool
