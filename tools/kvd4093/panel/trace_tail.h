// The request trace as it grows: with KVD4093_TRACE set, the library appends
// one line per driver request to that file, and the panel shows the newest.
// The library opens the file when it loads, so the trace is on for the
// panel's whole life or not at all.
#pragma once

#include <cstdio>
#include <deque>
#include <string>
#include <vector>

namespace kvd::tool::panel {

// The lines kept for a tab that opens later.
constexpr size_t kTraceLinesKept = 200;

class TraceTail {
public:
    // Follows the file `path` from its present end; a null or empty path: the trace is off.
    explicit TraceTail(const char *path);
    ~TraceTail();
    TraceTail(const TraceTail &) = delete;
    TraceTail &operator=(const TraceTail &) = delete;

    bool on() const { return file_ != nullptr; }
    // The whole lines appended since the last call.
    std::vector<std::string> newLines();
    // The newest lines, oldest first.
    const std::deque<std::string> &recent() const { return recent_; }

private:
    std::FILE *file_ = nullptr;
    std::string partial_; // a line not yet ended
    std::deque<std::string> recent_;
};

} // namespace kvd::tool::panel
