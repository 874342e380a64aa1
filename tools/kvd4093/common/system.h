// The few operating-system services the tool needs, in one place.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>

namespace kvd::tool {

// True when the stream goes to a terminal (progress bars only make sense there).
bool isTerminal(std::FILE *stream);

// The width of the terminal the stream goes to, from the terminal itself,
// else from COLUMNS, else 80.
int terminalColumns(std::FILE *stream);

// Writes UTF-8 text to standard output: on a Windows console as the
// characters it stands for, elsewhere byte for byte (terminals take UTF-8).
void printUtf8(const std::string &text);

// Sets a variable in this process's environment, replacing any value.
void setEnvironment(const char *name, const char *value);

// A write to a pipe whose reader has gone fails with EPIPE instead of
// ending the process with SIGPIPE: the tool stops the card first, then ends
// quietly with 128 + SIGPIPE (errors.h).
void reportBrokenPipesAsErrors();

// Ctrl-C, SIGTERM and SIGHUP: after watchStopSignals() the first of them
// only records its number, which stopSignal() reports; a second Ctrl-C ends
// the process as usual, for a stop that never completes.
void watchStopSignals();
// The signal that asked for a stop, or 0.
int stopSignal();
// "Ctrl-C", "SIGTERM", "SIGHUP".
std::string signalName(int signal);

// Opens the address in the desktop's browser (xdg-open; on Windows the
// shell); false when that cannot be started or fails.
bool openInBrowser(const std::string &address);

// The current time in UTC as ISO 8601 with milliseconds: 2026-12-08T05:51:14.123Z.
std::string utcTimestamp();
std::string utcTimestamp(std::chrono::system_clock::time_point time);

// This process's ID, for names that must differ between processes.
int processId();

// This machine's name as the system gives it (gethostname); empty where it
// cannot be told.
std::string hostName();

} // namespace kvd::tool
