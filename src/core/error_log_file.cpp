// The log file: every entry of the error log as one CRLF-ended line,
// replacing whatever file of that name was there before.
#include <string>
#include <vector>

#include "core/error_log.h"

namespace kvd {
namespace {

constexpr uint32_t kReadOnlyOrHidden = platform::kAttributeReadOnly | platform::kAttributeHidden;
constexpr uint32_t kCreateForWriting = platform::file_mode::kCreate | platform::file_mode::kWrite;

// An older log left read-only or hidden would refuse the new one; clear just
// those two bits and keep the others.
void makeWritable(const char *path) {
    uint32_t attributes = 0;
    if (platform::fileAttributes(path, &attributes) && (attributes & kReadOnlyOrHidden) != 0)
        platform::setFileAttributes(path, attributes & ~kReadOnlyOrHidden);
}

// "<timestamp>   [<name>] <message>  <code text>\r\n"
std::string logLine(const std::string &timestamp, const std::string &name, const std::string &message,
                    const std::string &code) {
    std::string line;
    line.reserve(timestamp.size() + name.size() + message.size() + code.size() + 11);
    line.append(timestamp).append("  ").append(" [").append(name).append("] ");
    line.append(message).append("  ").append(code).append("\r\n");
    return line;
}

} // namespace

bool ErrorLog::writeFile(const char *path) const {
    // A snapshot, so threads still logging are not held up by the disk.
    const std::vector<std::string> entries = strings();
    makeWritable(path);
    platform::File *file = platform::openFile(path, kCreateForWriting);
    if (file == nullptr)
        return false;
    bool written = true;
    for (size_t first = 0; written && first + 3 < entries.size(); first += 4) {
        const std::string line = logLine(entries[first], entries[first + 1], entries[first + 2], entries[first + 3]);
        written = platform::writeFile(file, line.data(), static_cast<uint32_t>(line.size()));
    }
    // A failed close can mean the bytes never reached the disk.
    const bool closed = platform::closeFile(file);
    return written && closed;
}

} // namespace kvd
