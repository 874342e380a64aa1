// The three ways a command fails, each with its exit status:
//  - UsageError: the command line is wrong (exit 2);
//  - CallFailed: a library call failed; the text is the library's own
//    message for it, in the terminal's encoding (exit 1);
//  - ToolError: anything else the tool could not do, such as writing a file (exit 1);
//  - ReaderGone, a ToolError: the reader of a pipe the tool writes to has
//    quit (`kvd4093 acquire --output - | head`); the tool ends quietly with
//    128 + SIGPIPE, as filters do.
#pragma once

#include <stdexcept>
#include <string>

namespace kvd::tool {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
// An acquisition stopped by a signal exits with 128 + its number, the
// shell's convention: 130 for Ctrl-C (SIGINT), 143 for SIGTERM.
constexpr int kExitSignalBase = 128;
// 128 + SIGPIPE (13), what a shell shows for `yes | head`.
constexpr int kExitReaderGone = kExitSignalBase + 13;

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct ToolError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct ReaderGone : ToolError {
    using ToolError::ToolError;
};

struct CallFailed : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// No card opened where one was asked for: main adds what a person can do.
struct CardMissing : CallFailed {
    using CallFailed::CallFailed;
};

// What the library's error log holds for a function name (the answer of
// KVD4093_GetLastErrorEx, "message[name]"), converted for the terminal, with
// the English rendering of a Chinese message after it:
// "物理ID号=7的设备不存在[KVD4093_CreateDeviceEx] (no device with physical ID 7 exists)".
std::string libraryMessage(const char *loggedName);

// "KVD4093_X failed: <message>": the message the library logged for a
// failed call of `function` under `loggedName` (most calls log under their
// own name; a few under another's, which the caller passes).
std::string failureText(const char *function, const char *loggedName = nullptr);
// Throws CallFailed with that text.
[[noreturn]] void failCall(const char *function, const char *loggedName = nullptr);

} // namespace kvd::tool
