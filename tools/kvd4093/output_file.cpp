#include "output_file.h"

#include <cctype>
#include <cerrno>
#include <cstring>

#include "errors.h"

namespace kvd::tool {
namespace {
constexpr size_t kBufferBytes = 1 << 20;
}

OutputFile::OutputFile(std::string path) : path_(std::move(path)) {
    file_ = std::fopen(path_.c_str(), "wb");
    if (file_ == nullptr)
        fail("cannot create");
    std::setvbuf(file_, nullptr, _IOFBF, kBufferBytes);
}

OutputFile::~OutputFile() {
    if (file_ != nullptr)
        std::fclose(file_);
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
    if (std::fclose(file) != 0)
        fail("cannot write");
}

void OutputFile::fail(const char *what) {
    throw ToolError(std::string(what) + " " + path_ + ": " + std::strerror(errno));
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
