#include "output/small_text_file.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>

#include "common/errors.h"
#include "output/staged_path.h"

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kvd::tool {
namespace {

[[noreturn]] void notRegular(const std::string &path) {
    throw ToolError("cannot read " + path + ": not a regular file");
}

// The file to its end through `read` (bytes read, 0 at the end, -1 with
// errno on a failure), refusing it once it holds more than mostBytes.
template <typename Read> std::string readBounded(const std::string &path, size_t mostBytes, Read read) {
    std::string text;
    char buffer[64 << 10];
    for (;;) {
        const long got = read(buffer, sizeof buffer);
        if (got < 0)
            failOnFile("read", path);
        if (got == 0)
            return text;
        if (text.size() + size_t(got) > mostBytes)
            throw ToolError("cannot read " + path + ": it holds more than " + std::to_string(mostBytes) + " bytes");
        text.append(buffer, size_t(got));
    }
}

} // namespace

#if defined(_WIN32)

std::string readSmallTextFile(const std::string &path, size_t mostBytes) {
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(path, error);
    if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status))
        notRegular(path);
    std::FILE *file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        failOnFile("read", path);
    struct Closer {
        std::FILE *file;
        ~Closer() { std::fclose(file); }
    } closer{file};
    return readBounded(path, mostBytes, [&](char *buffer, size_t size) {
        const size_t got = std::fread(buffer, 1, size, file);
        return got == 0 && std::ferror(file) ? -1L : long(got);
    });
}

#else

// Opened without waiting (a FIFO with no writer would hold the open), then
// checked on the descriptor itself, so a name swapped in between changes
// nothing.
std::string readSmallTextFile(const std::string &path, size_t mostBytes) {
    const int file = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (file < 0)
        failOnFile("read", path);
    struct Closer {
        int file;
        ~Closer() { ::close(file); }
    } closer{file};
    struct stat status {};
    if (::fstat(file, &status) != 0)
        failOnFile("read", path);
    if (!S_ISREG(status.st_mode))
        notRegular(path);
    return readBounded(path, mostBytes, [&](char *buffer, size_t size) {
        ssize_t got;
        do
            got = ::read(file, buffer, size);
        while (got < 0 && errno == EINTR);
        return long(got);
    });
}

#endif

} // namespace kvd::tool
