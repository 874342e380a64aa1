// The few operating-system services the tool needs, in one place.
#pragma once

#include <cstdio>
#include <string>

namespace kvd::tool {

// True when the stream goes to a terminal (progress bars only make sense there).
bool isTerminal(std::FILE *stream);

// Sets a variable in this process's environment, replacing any value.
void setEnvironment(const char *name, const char *value);

// Ctrl-C: after watchInterrupt() the first SIGINT only sets a flag that
// interrupted() reports; a second one ends the process as usual, for a
// read that never returns.
void watchInterrupt();
bool interrupted();

// The current time in UTC as ISO 8601 with milliseconds: 2026-12-08T05:51:14.123Z.
std::string utcTimestamp();

} // namespace kvd::tool
