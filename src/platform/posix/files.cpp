// Files on POSIX, with the host framework's open-mode bits mapped onto open(2).
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/platform.h"

namespace kvd::platform {

struct File {
    int fd;
};

namespace {

// Share bits have no POSIX counterpart and are ignored; text and binary are
// the same on POSIX. A file is inherited by started programs unless the
// no-inherit bit says otherwise, as the framework's files are.
int openFlags(uint32_t mode) {
    int flags = (mode & file_mode::kNoInherit) ? O_CLOEXEC : 0;
    switch (mode & 0x3) {
    case file_mode::kWrite: flags |= O_WRONLY; break;
    case file_mode::kReadWrite: flags |= O_RDWR; break;
    default: flags |= O_RDONLY; break;
    }
    if (mode & file_mode::kCreate) {
        flags |= O_CREAT;
        if (!(mode & file_mode::kNoTruncate))
            flags |= O_TRUNC;
    }
    return flags;
}

File *wrap(int fd) { return fd < 0 ? nullptr : new File{fd}; }

} // namespace

bool fileAttributes(const char *path, uint32_t *attributes) {
    struct stat info {};
    if (path == nullptr || stat(path, &info) != 0)
        return false;
    *attributes = (info.st_mode & S_IWUSR) ? 0u : kAttributeReadOnly;
    return true;
}

bool setFileAttributes(const char *path, uint32_t attributes) {
    struct stat info {};
    if (path == nullptr || stat(path, &info) != 0)
        return false;
    mode_t mode = info.st_mode & 07777;
    mode = (attributes & kAttributeReadOnly) ? (mode & ~mode_t(S_IWUSR | S_IWGRP | S_IWOTH)) : (mode | S_IWUSR);
    return chmod(path, mode) == 0;
}

File *openFile(const char *path, uint32_t mode) {
    if (path == nullptr)
        return nullptr;
    const int fd = ::open(path, openFlags(mode), 0666);
    struct stat info {};
    if (fd >= 0 && (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode))) {
        ::close(fd); // a folder is no data file, as on Windows
        return nullptr;
    }
    return wrap(fd);
}

File *openFileForAppend(const char *path) {
    if (path == nullptr)
        return nullptr;
    return wrap(::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666));
}

bool writeFile(File *file, const void *data, uint32_t size) {
    const auto *bytes = static_cast<const char *>(data);
    while (size > 0) {
        const ssize_t written = ::write(file->fd, bytes, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        bytes += written;
        size -= static_cast<uint32_t>(written);
    }
    return true;
}

int64_t readFile(File *file, void *data, uint32_t size) {
    auto *bytes = static_cast<char *>(data);
    int64_t total = 0;
    while (size > 0) {
        const ssize_t got = ::read(file->fd, bytes + total, size);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return -1;
        if (got == 0)
            break;
        total += got;
        size -= static_cast<uint32_t>(got);
    }
    return total;
}

bool seekFile(File *file, uint32_t offset) { return ::lseek(file->fd, off_t(offset), SEEK_SET) >= 0; }

int64_t fileLength(File *file) {
    struct stat info {};
    return ::fstat(file->fd, &info) == 0 ? int64_t(info.st_size) : -1;
}

bool closeFile(File *file) {
    const bool closed = ::close(file->fd) == 0;
    delete file;
    return closed;
}

} // namespace kvd::platform
