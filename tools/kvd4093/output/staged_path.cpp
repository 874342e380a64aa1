#include "output/staged_path.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "common/errors.h"
#include "common/system.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace kvd::tool {
namespace fs = std::filesystem;
namespace {

constexpr int kNameAttempts = 100;

// Six letters that differ from one call to the next and between processes.
std::string uniqueTail() {
    static std::atomic<uint64_t> counter{0};
    uint64_t mix = uint64_t(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                   (uint64_t(processId()) << 32) ^ (counter.fetch_add(1) * 0x9E3779B97F4A7C15ull);
    std::string tail;
    for (int i = 0; i < 6; ++i, mix /= 36)
        tail += "0123456789abcdefghijklmnopqrstuvwxyz"[mix % 36];
    return tail;
}

// Creates a new, empty file; false with errno set when it cannot.
bool createNew(const std::string &path) {
#if defined(_WIN32)
    const int file = _open(path.c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY, _S_IREAD | _S_IWRITE);
    return file >= 0 && _close(file) == 0;
#else
    const int file = ::open(path.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
    return file >= 0 && ::close(file) == 0;
#endif
}

bool writable(const std::string &path) {
#if defined(_WIN32)
    return _access(path.c_str(), 2) == 0;
#else
    return ::access(path.c_str(), W_OK) == 0;
#endif
}

// ".NAME.XXXXXX.part" in the target's folder: hidden, and named after the
// target should a killed run leave it behind.
std::string createTemporaryBeside(const std::string &target) {
    const fs::path where(target);
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        std::string hidden = ".";
        hidden += where.filename().string();
        hidden += '.';
        hidden += uniqueTail();
        hidden += ".part";
        const fs::path name = where.parent_path() / hidden;
        if (createNew(name.string()))
            return name.string();
        if (errno != EEXIST)
            break;
    }
    failOnFile("create", target);
}

} // namespace

void failOnFile(const char *verb, const std::string &name) {
    throw ToolError(std::string("cannot ") + verb + " " + name + ": " + std::strerror(errno));
}

StagedPath::StagedPath(std::string target) : target_(std::move(target)) {
    std::error_code error;
    const fs::file_status link = fs::symlink_status(target_, error);
    const fs::file_status status = fs::status(target_, error);
    if (fs::is_directory(status)) {
        errno = EISDIR;
        failOnFile("create", target_);
    }
    if (fs::exists(status) && !fs::is_regular_file(status)) {
        inPlace_ = true;
        return;
    }
    if (fs::exists(status) && !writable(target_))
        failOnFile("create", target_);
    // A link stays a link: the file it names is the one replaced.
    std::string replaced = target_;
    if (fs::is_symlink(link) && fs::exists(status))
        replaced = fs::canonical(target_, error).string();
    temporary_ = createTemporaryBeside(replaced);
    renamedTo_ = replaced;
}

StagedPath::~StagedPath() {
    if (inPlace_ || committed_)
        return;
    std::error_code ignored;
    fs::remove(temporary_, ignored);
    if (keepWanted_)
        std::fprintf(stderr, "kvd4093: %s is not kept: it could not be completed\n", target_.c_str());
}

void StagedPath::commit() {
    if (inPlace_ || committed_)
        return;
    std::error_code error;
    fs::rename(temporary_, renamedTo_, error);
    if (error) {
        errno = error.value();
        failOnFile("write", target_);
    }
    committed_ = true;
}

} // namespace kvd::tool
