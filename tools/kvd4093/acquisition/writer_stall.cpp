#include "acquisition/writer_stall.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

namespace kvd::tool {
namespace {

bool parseStalls(const std::string &text, std::vector<std::pair<uint64_t, uint32_t>> &stalls) {
    for (size_t start = 0; start <= text.size();) {
        const size_t comma = std::min(text.find(',', start), text.size());
        const std::string entry = text.substr(start, comma - start);
        char *end = nullptr;
        const unsigned long long scan = std::strtoull(entry.c_str(), &end, 10);
        if (end == entry.c_str() || *end != ':')
            return false;
        const char *milliseconds = end + 1;
        const unsigned long wait = std::strtoul(milliseconds, &end, 10);
        if (end == milliseconds || *end != '\0' || wait > 600000)
            return false;
        stalls.emplace_back(scan, static_cast<uint32_t>(wait));
        start = comma + 1;
    }
    return true;
}

} // namespace

WriterStall WriterStall::fromEnvironment() {
    WriterStall stall;
    const char *text = std::getenv(kWriterStallVariable);
    if (text == nullptr || *text == '\0')
        return stall;
    std::vector<std::pair<uint64_t, uint32_t>> stalls;
    if (!parseStalls(text, stalls)) {
        std::fprintf(stderr, "kvd4093: %s ignored: \"%s\" is not SCAN:MILLISECONDS[,...]\n", kWriterStallVariable,
                     text);
        return stall;
    }
    for (const auto &[scan, milliseconds] : stalls)
        stall.stalls_.push_back({scan, milliseconds, false});
    return stall;
}

void WriterStall::before(uint64_t firstScan, uint32_t scans) {
    for (Stall &stall : stalls_) {
        if (stall.taken || firstScan + scans <= stall.scan)
            continue;
        stall.taken = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(stall.milliseconds));
    }
}

} // namespace kvd::tool
