// Console keys on POSIX, read from standard input. When it is a terminal,
// each call puts the terminal into key-by-key mode without echo for its own
// duration and then restores the settings it found: the person's typing
// reaches the program one key at a time, as a Windows console's keys do.
// Enter reads as 13 (carriage return), as on Windows: a terminal turns it
// into a line feed, so a line feed is taken for Enter. Ctrl-C still
// interrupts. Keys already typed stay in the terminal's queue (no flush);
// those typed between two calls, while the terminal is in its own mode,
// are echoed by it.
#include <cerrno>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "platform/platform.h"

namespace kvd::platform {
namespace {

constexpr unsigned char kLineFeed = 10;
constexpr unsigned char kCarriageReturn = 13;

// Key-by-key mode while it lives, on a terminal only.
class KeyMode {
public:
    KeyMode() : terminal_(::tcgetattr(STDIN_FILENO, &saved_) == 0) {
        if (!terminal_)
            return;
        termios keys = saved_;
        keys.c_lflag &= ~tcflag_t(ICANON | ECHO);
        keys.c_cc[VMIN] = 1;
        keys.c_cc[VTIME] = 0;
        ::tcsetattr(STDIN_FILENO, TCSANOW, &keys);
    }
    ~KeyMode() {
        if (terminal_)
            ::tcsetattr(STDIN_FILENO, TCSANOW, &saved_);
    }
    KeyMode(const KeyMode &) = delete;
    KeyMode &operator=(const KeyMode &) = delete;

private:
    termios saved_{};
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
