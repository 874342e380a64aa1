#include "acquisition/progress_bar.h"

#include <algorithm>

namespace kvd::tool {
namespace {

constexpr int kBarWidth = 30;
constexpr int kNarrowestBar = 5;
constexpr auto kRedrawEvery = std::chrono::milliseconds(100);

// " 42%  420/1000 scans  1.3 s  backlog 0.05 s", or without a total
// "420 scans  1.3 s  backlog 0.05 s".
std::string counts(uint64_t done, uint64_t total, double seconds, double backlogSeconds) {
    char text[200];
    if (total == 0)
        std::snprintf(text, sizeof text, "%llu scans  %.1f s  backlog %.2f s", static_cast<unsigned long long>(done),
                      seconds, backlogSeconds);
    else
        std::snprintf(text, sizeof text, " %3d%%  %llu/%llu scans  %.1f s  backlog %.2f s",
                      int(double(done) / double(total) * 100), static_cast<unsigned long long>(done),
                      static_cast<unsigned long long>(total), seconds, backlogSeconds);
    return text;
}

} // namespace

ProgressBar::ProgressBar(uint64_t total, bool shown, int columns, std::FILE *out)
    : total_(total), shown_(shown), columns_(columns), out_(out), start_(Clock::now()), lastDrawn_(start_) {}

std::string ProgressBar::line(uint64_t done, uint64_t total, double seconds, int columns, double backlogSeconds,
                              const std::string &note) {
    const size_t room = size_t(std::max(columns - 1, 0)); // the last column would wrap on some terminals
    const std::string numbers = counts(done, total, seconds, backlogSeconds) + (note.empty() ? "" : "  " + note);
    if (total == 0)
        return numbers.substr(0, room);
    // The bar keeps its width as the numbers grow: room is left for the widest.
    const size_t widest = counts(total, total, seconds, backlogSeconds).size();
    const int width = std::min<int>(kBarWidth, int(room) - int(std::max(widest, numbers.size())) - 2);
    if (width < kNarrowestBar)
        return numbers.substr(1, room);
    const auto filled = static_cast<size_t>(double(done) / double(total) * width);
    std::string bar(size_t(width) + 2, '.');
    bar.front() = '[';
    bar.back() = ']';
    bar.replace(1, filled, filled, '#');
    return bar.append(numbers);
}

void ProgressBar::update(uint64_t done, double backlogSeconds, const std::string &note) {
    if (!shown_)
        return;
    const Clock::time_point now = Clock::now();
    if (drawnLength_ > 0 && now - lastDrawn_ < kRedrawEvery && (total_ == 0 || done < total_) && note == note_)
        return;
    lastDrawn_ = now;
    note_ = note;
    draw(done, backlogSeconds, note);
}

void ProgressBar::draw(uint64_t done, double backlogSeconds, const std::string &note) {
    const double seconds = std::chrono::duration<double>(Clock::now() - start_).count();
    const std::string text = line(done, total_, seconds, columns_, backlogSeconds, note);
    // Blanks over the rest of a longer earlier line.
    const size_t blanks = drawnLength_ > text.size() ? drawnLength_ - text.size() : 0;
    std::fprintf(out_, "\r%s%*s", text.c_str(), int(blanks), "");
    std::fflush(out_);
    drawnLength_ = std::max(text.size(), size_t(1));
}

void ProgressBar::finish() {
    if (!shown_ || drawnLength_ == 0)
        return;
    std::fprintf(out_, "\r%*s\r", int(drawnLength_), "");
    std::fflush(out_);
    drawnLength_ = 0;
}

} // namespace kvd::tool
