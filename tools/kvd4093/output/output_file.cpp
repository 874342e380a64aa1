#include "output/output_file.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "common/errors.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif

namespace kvd::tool {
namespace {

constexpr size_t kBufferBytes = 1 << 20;

bool exists(const std::string &path) {
    std::error_code error;
    return std::filesystem::exists(path, error) || error;
}

} // namespace

OutputFile::OutputFile(std::string path) : path_(std::move(path)) {
    if (path_ == kStandardOutput) {
#if defined(_WIN32)
        _setmode(_fileno(stdout), _O_BINARY);
#endif
        file_ = stdout;
    } else {
        created_ = !exists(path_);
        file_ = std::fopen(path_.c_str(), "wb");
        if (file_ == nullptr)
            fail("cannot create");
    }
    std::setvbuf(file_, nullptr, _IOFBF, kBufferBytes);
}

OutputFile::~OutputFile() {
    if (file_ != nullptr && file_ != stdout)
        std::fclose(file_);
    if (created_ && !closed_) {
        std::error_code ignored;
        std::filesystem::remove(path_, ignored);
    }
}

void OutputFile::write(const void *data, size_t size) {
    if (size != 0 && std::fwrite(data, 1, size, file_) != size)
        fail("cannot write");
}

void OutputFile::flush() {
    if (std::fflush(file_) != 0)
        fail("cannot write");
}

void OutputFile::close() {
    if (file_ == nullptr)
        return;
    std::FILE *file = file_;
    file_ = nullptr;
    closed_ = true;
    if (file == stdout ? std::fflush(file) != 0 : std::fclose(file) != 0)
        fail("cannot write");
}

void OutputFile::fail(const char *what) {
    // Only a pipe or a socket answers EPIPE: its reader has gone.
    if (errno == EPIPE)
        throw ReaderGone(std::string(what) + " " + shownName() + ": " + std::strerror(errno));
    throw ToolError(std::string(what) + " " + shownName() + ": " + std::strerror(errno));
}

std::string OutputFile::shownName() const { return path_ == kStandardOutput ? "standard output" : path_; }

bool hasExtension(std::string_view path, std::string_view extension) {
    if (path.size() <= extension.size())
        return false;
    const std::string_view tail = path.substr(path.size() - extension.size());
    for (size_t i = 0; i < tail.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(tail[i])) != extension[i])
            return false;
    return true;
}

} // namespace kvd::tool
