// A one-line progress bar on standard error, redrawn at most ten times a
// second; silent when standard error is not a terminal.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>

namespace kvd::tool {

class ProgressBar {
public:
    // Shows progress towards `total` when `shown`, writing to `out`.
    ProgressBar(uint64_t total, bool shown, std::FILE *out = stderr);
    void update(uint64_t done);
    // Clears the line; later output starts on a clean line.
    void finish();

private:
    void draw(uint64_t done);

    using Clock = std::chrono::steady_clock;
    uint64_t total_;
    bool shown_;
    std::FILE *out_;
    Clock::time_point start_;
    Clock::time_point lastDrawn_;
    bool drawn_ = false;
};

} // namespace kvd::tool
