// Files on Windows, with the host framework's open-mode bits mapped onto
// CreateFileA the way the framework's file class maps them.
#include <windows.h>

#include "platform/platform.h"

namespace kvd::platform {

struct File {
    HANDLE handle;
};

namespace {

DWORD desiredAccess(uint32_t mode) {
    switch (mode & 0x3) {
    case file_mode::kWrite: return GENERIC_WRITE;
    case file_mode::kReadWrite: return GENERIC_READ | GENERIC_WRITE;
    default: return GENERIC_READ;
    }
}

// The compatibility mode is exclusive, as the framework makes it.
DWORD shareMode(uint32_t mode) {
    switch (mode & 0x70) {
    case file_mode::kShareDenyWrite: return FILE_SHARE_READ;
    case file_mode::kShareDenyRead: return FILE_SHARE_WRITE;
    case file_mode::kShareDenyNone: return FILE_SHARE_READ | FILE_SHARE_WRITE;
    default: return 0;
    }
}

DWORD creationDisposition(uint32_t mode) {
    if ((mode & file_mode::kCreate) == 0)
        return OPEN_EXISTING;
    return (mode & file_mode::kNoTruncate) ? OPEN_ALWAYS : CREATE_ALWAYS;
}

File *wrap(HANDLE handle) { return handle == INVALID_HANDLE_VALUE ? nullptr : new File{handle}; }

} // namespace

bool fileAttributes(const char *path, uint32_t *attributes) {
    if (path == nullptr)
        return false;
    const DWORD found = GetFileAttributesA(path);
    if (found == INVALID_FILE_ATTRIBUTES)
        return false;
    *attributes = found;
    return true;
}

bool setFileAttributes(const char *path, uint32_t attributes) {
    return path != nullptr && SetFileAttributesA(path, attributes) != 0;
}

File *openFile(const char *path, uint32_t mode) {
    if (path == nullptr)
        return nullptr;
    // Child processes inherit the handle unless the mode says otherwise.
    SECURITY_ATTRIBUTES security{sizeof security, nullptr, (mode & file_mode::kNoInherit) ? FALSE : TRUE};
    return wrap(CreateFileA(path, desiredAccess(mode), shareMode(mode), &security, creationDisposition(mode),
                            FILE_ATTRIBUTE_NORMAL, nullptr));
}

File *openFileForAppend(const char *path) {
    if (path == nullptr)
        return nullptr;
    // Append access alone: the OS puts every write at the end of the file,
    // also when other handles write to it.
    return wrap(CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
}

bool writeFile(File *file, const void *data, uint32_t size) {
    const auto *bytes = static_cast<const char *>(data);
    while (size > 0) {
        DWORD written = 0;
        if (!WriteFile(file->handle, bytes, size, &written, nullptr) || written == 0)
            return false;
        bytes += written;
        size -= written;
    }
    return true;
}

int64_t readFile(File *file, void *data, uint32_t size) {
    auto *bytes = static_cast<char *>(data);
    int64_t total = 0;
    while (size > 0) {
        DWORD got = 0;
        if (!ReadFile(file->handle, bytes + total, size, &got, nullptr))
            return -1;
        if (got == 0) // end of file
            break;
        total += got;
        size -= got;
    }
    return total;
}

bool seekFile(File *file, uint32_t offset) {
    LARGE_INTEGER distance{};
    distance.QuadPart = offset;
    return SetFilePointerEx(file->handle, distance, nullptr, FILE_BEGIN) != 0;
}

int64_t fileLength(File *file) {
    LARGE_INTEGER size{};
    return GetFileSizeEx(file->handle, &size) ? size.QuadPart : -1;
}

bool closeFile(File *file) {
    const bool closed = CloseHandle(file->handle) != 0;
    delete file;
    return closed;
}

} // namespace kvd::platform
