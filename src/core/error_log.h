// The error log: every failing path of an exported function appends one
// entry (timestamp, function name, message, code text); callers look up the
// newest message for a function name; at unload the log is written to a file.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace kvd {

class ErrorLog {
public:
    using Clock = platform::SystemTime (*)();

    // The cap: an append to a log holding more than this many strings first empties it.
    static constexpr size_t kMaxStrings = 1024;

    explicit ErrorLog(Clock clock = &platform::utcNow) : clock_(clock) {}

    // Appends one entry of four strings and, for a nonzero code, makes the
    // code the calling thread's last-error code. Null texts are logged as
    // empty strings. Always returns 1.
    int32_t logError(int32_t code, const char *functionName, const char *message);

    // Writes "<message>[<name>]" for the newest string equal to functionName
    // (its entry's message), or "No error message[<name>]" when none matches.
    // Every string is compared whole and case-sensitively; a match on the
    // last string, which has no string after it, counts as no match.
    // A null name or buffer writes nothing; name and answer may share a
    // buffer. Returns nothing: the caller reads the last-error code before
    // calling.
    void lookup(const char *functionName, char *answer) const;

    // Writes every entry to the log file at path, one line each, replacing
    // the file (a read-only or hidden older file is made writable first).
    // Returns false when the file could not be created, written or closed;
    // the caller goes on regardless.
    bool writeFile(const char *path) const;

    // A copy of the strings, four per entry, oldest first.
    std::vector<std::string> strings() const;
    size_t size() const;
    // Empties the log and frees what it held.
    void clear();

    // Formats the timestamp of an entry: the UTC date, the UTC hour plus 8
    // (not reduced modulo 24), blank-padded day. out must hold 32 bytes.
    static void formatTimestamp(const platform::SystemTime &time, char *out);

private:
    Clock clock_;
    mutable std::mutex mutex_;
    std::vector<std::string> strings_;
};

} // namespace kvd
