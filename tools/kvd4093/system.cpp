#include "system.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <ctime>

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

namespace kvd::tool {
namespace {

volatile std::sig_atomic_t interruptSeen = 0;

extern "C" void onInterrupt(int) {
    interruptSeen = 1;
#if defined(_WIN32)
    std::signal(SIGINT, SIG_DFL);
#endif
}

} // namespace

bool isTerminal(std::FILE *stream) {
#if defined(_WIN32)
    return _isatty(_fileno(stream)) != 0;
#else
    return isatty(fileno(stream)) != 0;
#endif
}

void setEnvironment(const char *name, const char *value) {
#if defined(_WIN32)
    _putenv_s(name, value);
#else
    setenv(name, value, 1);
#endif
}

void watchInterrupt() {
#if defined(_WIN32)
    std::signal(SIGINT, onInterrupt);
#else
    struct sigaction action = {};
    action.sa_handler = onInterrupt;
    action.sa_flags = SA_RESETHAND; // the second Ctrl-C is not caught
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
#endif
}

bool interrupted() { return interruptSeen != 0; }

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
