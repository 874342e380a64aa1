// Small files that change as a whole: read at once, replaced by rename under
// an exclusive lock, so a reader sees the old or the new content and a
// process killed half-way leaves the old one.
#pragma once

#include <string>

namespace kvd::platform {

// Reads a whole regular file of at most maxBytes. A missing file reads as
// empty text. False with the reason in *why when the file exists but cannot
// be read, is no regular file (a FIFO, a device, a folder: never waited on
// or read) or is larger than maxBytes.
bool readWholeFile(const std::string &path, size_t maxBytes, std::string *text, std::string *why);

// Makes a folder and its missing parents (owner only, as the XDG folders are).
bool makeFolders(const std::string &path, std::string *why);

// An exclusive lock on a lock file, held from construction to destruction.
// The lock file is made when missing and never removed: removing it would
// let two processes lock two different files of the same name.
class FileLock {
public:
    explicit FileLock(const std::string &path);
    ~FileLock();
    FileLock(const FileLock &) = delete;
    FileLock &operator=(const FileLock &) = delete;
    // False with the reason in why() when the lock could not be taken.
    bool held() const { return fd_ >= 0; }
    const std::string &why() const { return why_; }

private:
    int fd_ = -1;
    std::string why_;
};

// Replaces the file at path with text: writes "<path>.tmp", flushes it to the
// disk, then renames it over path. When path is a symbolic link the file it
// points to is replaced, beside itself, and the link stays. The caller holds
// the FileLock that guards path, so the temporary name is the caller's
// alone. False with the reason in *why; path is then unchanged.
bool replaceFile(const std::string &path, const std::string &text, std::string *why);

} // namespace kvd::platform
