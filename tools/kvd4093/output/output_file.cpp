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

} // namespace

OutputFile::OutputFile(std::string path, std::string shownAs) : path_(std::move(path)), shownAs_(std::move(shownAs)) {
    if (path_ == kStandardOutput) {
#if defined(_WIN32)
        _setmode(_fileno(stdout), _O_BINARY);
#endif
        file_ = stdout;
    } else {
        staged_.emplace(path_);
        file_ = std::fopen(staged_->path().c_str(), "wb");
        if (file_ == nullptr)
            failOnFile("create", path_);
    }
    std::setvbuf(file_, nullptr, _IOFBF, kBufferBytes);
}

OutputFile::~OutputFile() {
    if (file_ != nullptr && file_ != stdout)
        std::fclose(file_);
}

void OutputFile::write(const void *data, size_t size) {
    if (size != 0 && std::fwrite(data, 1, size, file_) != size)
        fail("cannot write");
    writtenBytes_ += size;
}

void OutputFile::flush() {
    if (std::fflush(file_) != 0)
        fail("cannot write");
    wholeBytes_ = writtenBytes_;
}

void OutputFile::close() {
    if (file_ == nullptr)
        return;
    std::FILE *file = file_;
    file_ = nullptr;
    const bool closed = file == stdout ? std::fflush(file) == 0 : std::fclose(file) == 0;
    const int closeError = errno;
    const bool failedBefore = failed_;
    failed_ = failed_ || !closed;
    if (failed_ && rewritable()) {
        std::error_code ignored; // what cannot be cut back stays: the failure is reported anyway
        std::filesystem::resize_file(staged_->path(), wholeBytes_, ignored);
    }
    if (!closed && !failedBefore) {
        errno = closeError;
        fail("cannot write");
    }
    if (commitAtClose_)
        staged_->commit();
}

void OutputFile::patch(uint64_t offset, std::string_view bytes) {
    std::FILE *file = std::fopen(staged_->path().c_str(), "r+b");
    if (file == nullptr)
        fail("cannot write");
    const bool written = std::fseek(file, long(offset), SEEK_SET) == 0 &&
                         std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    const int writeError = errno;
    const bool closed = std::fclose(file) == 0;
    if (!written)
        errno = writeError;
    if (!written || !closed)
        fail("cannot write");
}

void OutputFile::replaceContents(std::string_view bytes) {
    patch(0, bytes);
    std::error_code error;
    std::filesystem::resize_file(staged_->path(), bytes.size(), error);
    if (error) {
        errno = error.value();
        fail("cannot write");
    }
}

void OutputFile::commit() {
    if (!staged_)
        return;
#if defined(_WIN32)
    if (file_ != nullptr) {
        commitAtClose_ = true;
        return;
    }
#endif
    staged_->commit();
}

void OutputFile::keepWanted() {
    if (staged_)
        staged_->keepWanted();
}

void OutputFile::fail(const char *what) {
    failed_ = true;
    // Only a pipe or a socket answers EPIPE: its reader has gone.
    if (errno == EPIPE)
        throw ReaderGone(std::string(what) + " " + shownName() + ": " + std::strerror(errno));
    throw ToolError(std::string(what) + " " + shownName() + ": " + std::strerror(errno));
}

std::string OutputFile::shownName() const {
    if (!shownAs_.empty())
        return shownAs_;
    return path_ == kStandardOutput ? "standard output" : path_;
}

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
