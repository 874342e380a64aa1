#include "panel/trace_tail.h"

namespace kvd::tool::panel {
namespace {

// At most this much is read at once: a flood of requests never stalls the panel.
constexpr size_t kMostBytesAtOnce = 1 << 20;

} // namespace

TraceTail::TraceTail(const char *path) {
    if (path == nullptr || *path == '\0')
        return;
    file_ = std::fopen(path, "rb");
    if (file_ != nullptr)
        std::fseek(file_, 0, SEEK_END);
}

TraceTail::~TraceTail() {
    if (file_ != nullptr)
        std::fclose(file_);
}

std::vector<std::string> TraceTail::newLines() {
    std::vector<std::string> lines;
    if (file_ == nullptr)
        return lines;
    std::clearerr(file_);
    char buffer[8192];
    size_t total = 0;
    while (total < kMostBytesAtOnce) {
        const size_t got = std::fread(buffer, 1, sizeof buffer, file_);
        if (got == 0)
            break;
        total += got;
        partial_.append(buffer, got);
    }
    size_t start = 0;
    for (size_t end = partial_.find('\n'); end != std::string::npos; end = partial_.find('\n', start)) {
        lines.push_back(partial_.substr(start, end - start));
        start = end + 1;
    }
    partial_.erase(0, start);
    for (const std::string &line : lines) {
        recent_.push_back(line);
        if (recent_.size() > kTraceLinesKept)
            recent_.pop_front();
    }
    return lines;
}

} // namespace kvd::tool::panel
