#include "platform/posix/atomic_file.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kvd::platform {
namespace {

std::string failed(const char *what, const std::string &path, int error) {
    return std::string(what) + " " + path + ": " + std::strerror(error);
}

bool writeAll(int fd, const std::string &text) {
    const char *bytes = text.data();
    size_t left = text.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, bytes, left);
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0)
            return false;
        bytes += written;
        left -= static_cast<size_t>(written);
    }
    return true;
}

} // namespace

bool readWholeFile(const std::string &path, size_t maxBytes, std::string *text, std::string *why) {
    text->clear();
    // Non-blocking, so that opening a FIFO in the file's place never waits for a writer.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENOENT)
            return true;
        *why = failed("cannot open", path, errno);
        return false;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        *why = path + " is not a regular file";
        ::close(fd);
        return false;
    }
    char buffer[8192];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            *why = failed("cannot read", path, errno);
            ::close(fd);
            return false;
        }
        if (got == 0)
            break;
        if (text->size() + static_cast<size_t>(got) > maxBytes) {
            *why = path + " is larger than " + std::to_string(maxBytes) + " bytes";
            text->clear();
            ::close(fd);
            return false;
        }
        text->append(buffer, static_cast<size_t>(got));
    }
    ::close(fd);
    return true;
}

bool makeFolders(const std::string &path, std::string *why) {
    struct stat existing {};
    if (::stat(path.c_str(), &existing) == 0 && S_ISDIR(existing.st_mode))
        return true; // the common case, one call
    for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string folder = path.substr(0, slash);
        if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
            // A parent we may not write to is fine as long as it is there.
            const int error = errno;
            struct stat info {};
            if (::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
                *why = failed("cannot make the folder", folder, error);
                return false;
            }
        }
        if (slash == std::string::npos)
            return true;
    }
}

FileLock::FileLock(const std::string &path) {
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd_ < 0) {
        why_ = failed("cannot open the lock file", path, errno);
        return;
    }
    // flock, not fcntl locks: it also keeps two threads of one process apart,
    // each with a descriptor of its own.
    while (::flock(fd_, LOCK_EX) != 0) {
        if (errno == EINTR)
            continue;
        why_ = failed("cannot lock", path, errno);
        ::close(fd_);
        fd_ = -1;
        return;
    }
}

FileLock::~FileLock() {
    if (fd_ >= 0)
        ::close(fd_); // closing the only descriptor releases the lock
}

namespace {

// The file a path names: itself, or the file a symbolic link at it points to
// (a link whose file is missing points to where that file will be).
std::string linkTarget(const std::string &path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
        return path;
    if (char *resolved = ::realpath(path.c_str(), nullptr)) {
        std::string target(resolved);
        std::free(resolved);
        return target;
    }
    char link[4096];
    const ssize_t length = ::readlink(path.c_str(), link, sizeof link - 1);
    if (length <= 0)
        return path;
    const std::string text(link, static_cast<size_t>(length));
    const size_t slash = path.rfind('/');
    return text[0] == '/' || slash == std::string::npos ? text : path.substr(0, slash + 1) + text;
}

} // namespace

bool replaceFile(const std::string &linkOrFile, const std::string &text, std::string *why) {
    const std::string path = linkTarget(linkOrFile);
    const std::string temporary = path + ".tmp";
    // A temporary left by a killed process is simply overwritten.
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd < 0) {
        *why = failed("cannot create", temporary, errno);
        return false;
    }
    // The data must be on the disk before the rename is: after a crash the
    // name then holds either the old file or the whole new one.
    const bool written = writeAll(fd, text) && ::fsync(fd) == 0;
    const int writeError = errno;
    const bool closed = ::close(fd) == 0;
    if (!written || !closed) {
        *why = failed("cannot write", temporary, written ? errno : writeError);
        ::unlink(temporary.c_str());
        return false;
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        *why = failed("cannot rename over", path, errno);
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

} // namespace kvd::platform
