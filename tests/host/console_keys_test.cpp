// Console keys through a pseudo-terminal: a child process reads its standard
// input from the terminal's far end while this process types into it.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "KVD4093.h"

namespace kvd::testing {
namespace {

// Reads what arrives on fd within a short while, without blocking longer.
std::string drain(int fd, int milliseconds) {
    std::string bytes;
    pollfd ready{fd, POLLIN, 0};
    char buffer[256];
    while (poll(&ready, 1, milliseconds) == 1 && (ready.revents & POLLIN)) {
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got <= 0)
            break;
        bytes.append(buffer, size_t(got));
    }
    return bytes;
}

void sendLine(int fd, const std::string &line) {
    const std::string whole = line + "\n";
    ASSERT_EQ(write(fd, whole.data(), whole.size()), ssize_t(whole.size()));
}

std::string receiveLine(int fd) {
    std::string line;
    char c = 0;
    while (read(fd, &c, 1) == 1 && c != '\n')
        line.push_back(c);
    return line;
}

// A pseudo-terminal: the end this process types into, and the far end a
// child reads as its standard input.
void openTerminal(int *terminal, int *far) {
    *terminal = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(*terminal, 0);
    ASSERT_EQ(grantpt(*terminal), 0);
    ASSERT_EQ(unlockpt(*terminal), 0);
    *far = open(ptsname(*terminal), O_RDWR | O_NOCTTY);
    ASSERT_GE(*far, 0);
}

// The terminal's own echo is off while a key call holds it in key mode.
bool waitForKeyMode(int terminal) {
    for (int i = 0; i < 5000; ++i) {
        termios mode{};
        if (tcgetattr(terminal, &mode) == 0 && !(mode.c_lflag & ECHO))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

// A line to the parent (a child has no test to fail: a lost line shows there).
void say(int fd, const char *line) {
    const ssize_t written = write(fd, line, strlen(line));
    (void)written;
}

// The child's part: its standard input is the terminal. It reports each
// answer on a line of its own and waits for the parent's "go" between steps.
[[noreturn]] void child(int report, int go) {
    termios before{};
    tcgetattr(STDIN_FILENO, &before);
    char line[128];
    const int none = KVD4093_kbhit();
    std::snprintf(line, sizeof line, "none=%d\n", none);
    say(report, line);
    char step = 0;
    const ssize_t got = read(go, &step, 1); // the parent has typed "x"
    (void)got;
    int pending = 0;
    for (int i = 0; i < 5000 && pending == 0; ++i) {
        pending = KVD4093_kbhit();
        if (pending == 0)
            usleep(1000);
    }
    const int still = KVD4093_kbhit(); // the test does not take the key away
    const int key = KVD4093_getch();
    const int after = KVD4093_kbhit();
    std::snprintf(line, sizeof line, "pending=%d still=%d key=%d after=%d\n", pending != 0, still != 0, key, after);
    say(report, line);
    const int typedWhileWaiting = KVD4093_getch(); // the parent types "y" while this waits
    std::snprintf(line, sizeof line, "key=%d\n", typedWhileWaiting);
    say(report, line);
    const int enter = KVD4093_getch(); // and then Enter
    termios restored{};
    tcgetattr(STDIN_FILENO, &restored);
    const bool same = restored.c_lflag == before.c_lflag && restored.c_iflag == before.c_iflag &&
                      restored.c_cc[VMIN] == before.c_cc[VMIN];
    std::snprintf(line, sizeof line, "enter=%d restored=%d\n", enter, same);
    say(report, line);
    _exit(0);
}

// Starts a child whose standard input is the terminal's far end; it runs
// body, which never returns.
template <class Body>
void startChild(int terminal, int far, Body body, pid_t *pid) {
    std::fflush(nullptr);
    *pid = fork();
    ASSERT_GE(*pid, 0);
    if (*pid == 0) {
        dup2(far, STDIN_FILENO);
        close(terminal);
        body();
    }
}

TEST(ConsoleKeysTest, KbhitTellsWithoutTakingAndGetchTakesWithoutEcho) {
    int terminal = -1, far = -1;
    ASSERT_NO_FATAL_FAILURE(openTerminal(&terminal, &far));
    int report[2], go[2];
    ASSERT_EQ(pipe(report), 0);
    ASSERT_EQ(pipe(go), 0);
    pid_t pid = -1;
    ASSERT_NO_FATAL_FAILURE(startChild(terminal, far, [&] { child(report[1], go[0]); }, &pid));
    close(far);

    EXPECT_EQ(receiveLine(report[0]), "none=0");
    ASSERT_EQ(write(terminal, "x", 1), 1);
    sendLine(go[1], "");
    EXPECT_EQ(receiveLine(report[0]), "pending=1 still=1 key=120 after=0");
    drain(terminal, 50); // typed between two calls, "x" was echoed by the terminal itself

    // Each report comes after the call has put the terminal back, so key mode
    // seen after it is the next getch waiting.
    ASSERT_TRUE(waitForKeyMode(terminal));
    ASSERT_EQ(write(terminal, "y", 1), 1);
    EXPECT_EQ(receiveLine(report[0]), "key=121");
    ASSERT_TRUE(waitForKeyMode(terminal));
    ASSERT_EQ(write(terminal, "\r", 1), 1);
    EXPECT_EQ(receiveLine(report[0]), "enter=13 restored=1");
    EXPECT_EQ(drain(terminal, 50), ""); // typed while getch waited: no echo

    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    close(terminal);
    for (int fd : {report[0], report[1], go[0], go[1]})
        close(fd);
}

// A child whose controlling terminal is the pseudo-terminal, so that Ctrl-C
// typed there would interrupt it: in a key call it reads as the key 3. Its
// second call waits until the parent ends it with SIGTERM.
[[noreturn]] void childOfTheTerminal(int report) {
    setsid();
    ioctl(STDIN_FILENO, TIOCSCTTY, 0);
    char line[64];
    std::snprintf(line, sizeof line, "key=%d\n", KVD4093_getch());
    say(report, line);
    KVD4093_getch();
    _exit(0);
}

TEST(ConsoleKeysTest, CtrlCIsAKeyAndASignalDuringACallLeavesTheTerminalRestored) {
    int terminal = -1, far = -1;
    ASSERT_NO_FATAL_FAILURE(openTerminal(&terminal, &far));
    termios before{};
    ASSERT_EQ(tcgetattr(far, &before), 0);
    int report[2];
    ASSERT_EQ(pipe(report), 0);
    pid_t pid = -1;
    ASSERT_NO_FATAL_FAILURE(startChild(terminal, far, [&] { childOfTheTerminal(report[1]); }, &pid));
    ASSERT_TRUE(waitForKeyMode(terminal));
    ASSERT_EQ(write(terminal, "\x03", 1), 1);
    EXPECT_EQ(receiveLine(report[0]), "key=3");
    ASSERT_TRUE(waitForKeyMode(terminal));
    kill(pid, SIGTERM);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
    termios after{};
    ASSERT_EQ(tcgetattr(far, &after), 0);
    EXPECT_EQ(after.c_lflag, before.c_lflag) << "echo, lines and signal keys are back";
    for (int fd : {terminal, far, report[0], report[1]})
        close(fd);
}

} // namespace
} // namespace kvd::testing
