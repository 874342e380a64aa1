// A one-line progress bar on standard error, redrawn at most ten times a
// second and never wider than the terminal (a wrapped line would start a
// new one at each redraw); silent when standard error is not a terminal.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

namespace kvd::tool {

class ProgressBar {
public:
    // Shows progress towards `total` (0: no end, only the count) when
    // `shown`, writing to `out`, a terminal `columns` wide.
    ProgressBar(uint64_t total, bool shown, int columns, std::FILE *out = stderr);
    // `done` scans so far, the reads `backlogSeconds` behind the card's clock,
    // and a note after them (a card lost); a new note is drawn at once.
    void update(uint64_t done, double backlogSeconds = 0, const std::string &note = {});
    // Clears the line; later output starts on a clean line.
    void finish();

    // The line for `done` scans after `seconds`, at most `columns` - 1
    // characters; the backlog comes last, the first thing a narrow terminal
    // leaves out.
    static std::string line(uint64_t done, uint64_t total, double seconds, int columns, double backlogSeconds = 0,
                            const std::string &note = {});

private:
    void draw(uint64_t done, double backlogSeconds, const std::string &note);

    using Clock = std::chrono::steady_clock;
    uint64_t total_;
    bool shown_;
    int columns_;
    std::FILE *out_;
    Clock::time_point start_;
    Clock::time_point lastDrawn_;
    size_t drawnLength_ = 0;
    std::string note_;
};

} // namespace kvd::tool
