#include "progress_bar.h"

#include <string>

namespace kvd::tool {
namespace {

constexpr int kWidth = 30;
constexpr auto kRedrawEvery = std::chrono::milliseconds(100);

} // namespace

ProgressBar::ProgressBar(uint64_t total, bool shown, std::FILE *out)
    : total_(total), shown_(shown), out_(out), start_(Clock::now()), lastDrawn_(start_) {}

void ProgressBar::update(uint64_t done) {
    if (!shown_)
        return;
    const Clock::time_point now = Clock::now();
    if (drawn_ && now - lastDrawn_ < kRedrawEvery && done < total_)
        return;
    lastDrawn_ = now;
    draw(done);
}

void ProgressBar::draw(uint64_t done) {
    const double fraction = total_ == 0 ? 1.0 : double(done) / double(total_);
    const int filled = static_cast<int>(fraction * kWidth);
    const std::string bar = std::string(size_t(filled), '#') + std::string(size_t(kWidth - filled), '.');
    const double seconds = std::chrono::duration<double>(Clock::now() - start_).count();
    std::fprintf(out_, "\r[%s] %3d%%  %llu/%llu scans  %.1f s ", bar.c_str(), int(fraction * 100),
                 static_cast<unsigned long long>(done), static_cast<unsigned long long>(total_), seconds);
    std::fflush(out_);
    drawn_ = true;
}

void ProgressBar::finish() {
    if (!shown_ || !drawn_)
        return;
    std::fprintf(out_, "\r%*s\r", kWidth + 50, "");
    std::fflush(out_);
    drawn_ = false;
}

} // namespace kvd::tool
