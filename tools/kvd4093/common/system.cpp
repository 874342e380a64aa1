#include "common/system.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <ctime>

#if defined(_WIN32)
#include <io.h>
#include <windows.h>
#else
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace kvd::tool {
namespace {

constexpr int kDefaultColumns = 80;

volatile std::sig_atomic_t stopSignalSeen = 0;

extern "C" void onStopSignal(int signal) {
    if (stopSignalSeen == 0)
        stopSignalSeen = signal;
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
        // way goes on.
        action.sa_flags = signal == SIGINT ? SA_RESETHAND : 0;
        sigemptyset(&action.sa_mask);
        sigaction(signal, &action, nullptr);
    }
#endif
}

int stopSignal() { return stopSignalSeen; }

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

std::string utcTimestamp() {
    const auto now = std::chrono::system_clock::now();
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
