// Console keys on POSIX, read from standard input. When it is a terminal,
// each call puts the terminal into key-by-key mode without echo and without
// signal keys for its own duration and then restores the settings it found:
// the person's typing reaches the program one key at a time, as a Windows
// console's keys do, and Ctrl-C reads as the key 3 as it does there.
// Enter reads as 13 (carriage return), as on Windows: a terminal turns it
// into a line feed, so a line feed is taken for Enter. Keys already typed
// stay in the terminal's queue (no flush); those typed between two calls,
// while the terminal is in its own mode, are echoed by it.
//
// A signal that ends the process during a call (SIGTERM from another
// program, say) must not leave the terminal without echo: while a call holds
// the terminal, those signals first put its settings back, then take their
// usual course.
#include <cerrno>
#include <csignal>
#include <mutex>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "platform/platform.h"

namespace kvd::platform {
namespace {

constexpr unsigned char kLineFeed = 10;
constexpr unsigned char kCarriageReturn = 13;
constexpr int kEndingSignals[] = {SIGTERM, SIGHUP, SIGINT, SIGQUIT};
constexpr size_t kEndingSignalCount = sizeof kEndingSignals / sizeof kEndingSignals[0];

// The settings to put back, for the signal handler; one call holds the
// terminal at a time.
std::mutex g_keyModeMutex;
termios g_saved{};
struct sigaction g_previous[kEndingSignalCount]{};

size_t slotOf(int signal) {
    for (size_t i = 0; i < kEndingSignalCount; ++i)
        if (kEndingSignals[i] == signal)
            return i;
    return 0;
}

// Async-signal-safe: puts the terminal back, then lets the signal do what it
// would have done without us.
extern "C" void restoreTerminalAndRaise(int signal) {
    ::tcsetattr(STDIN_FILENO, TCSANOW, &g_saved);
    ::sigaction(signal, &g_previous[slotOf(signal)], nullptr);
    ::raise(signal);
}

// Key-by-key mode while it lives, on a terminal only.
class KeyMode {
public:
    KeyMode() : lock_(g_keyModeMutex), terminal_(::tcgetattr(STDIN_FILENO, &g_saved) == 0) {
        if (!terminal_)
            return;
        struct sigaction restore {};
        restore.sa_handler = restoreTerminalAndRaise;
        sigemptyset(&restore.sa_mask);
        for (size_t i = 0; i < kEndingSignalCount; ++i)
            ::sigaction(kEndingSignals[i], &restore, &g_previous[i]);
        termios keys = g_saved;
        keys.c_lflag &= ~tcflag_t(ICANON | ECHO | ISIG);
        keys.c_cc[VMIN] = 1;
        keys.c_cc[VTIME] = 0;
        ::tcsetattr(STDIN_FILENO, TCSANOW, &keys);
    }
    ~KeyMode() {
        if (!terminal_)
            return;
        ::tcsetattr(STDIN_FILENO, TCSANOW, &g_saved);
        for (size_t i = 0; i < kEndingSignalCount; ++i)
            ::sigaction(kEndingSignals[i], &g_previous[i], nullptr);
    }
    KeyMode(const KeyMode &) = delete;
    KeyMode &operator=(const KeyMode &) = delete;

private:
    std::lock_guard<std::mutex> lock_;
    bool terminal_;
};

} // namespace

int32_t keyPending() {
    const KeyMode mode;
    pollfd input{STDIN_FILENO, POLLIN, 0};
    if (::poll(&input, 1, 0) != 1 || !(input.revents & POLLIN))
        return 0;
    // Readable also means "at its end" for a pipe or file: count what waits.
    int waiting = 0;
    return ::ioctl(STDIN_FILENO, FIONREAD, &waiting) == 0 && waiting > 0 ? 1 : 0;
}

int32_t readKey() {
    const KeyMode mode;
    unsigned char key = 0;
    for (;;) {
        const ssize_t got = ::read(STDIN_FILENO, &key, 1);
        if (got == 1)
            return key == kLineFeed ? kCarriageReturn : key;
        if (got < 0 && errno == EINTR)
            continue;
        return -1; // standard input has ended or failed: no key will ever come
    }
}

} // namespace kvd::platform
