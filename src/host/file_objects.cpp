#include "host/file_objects.h"

#include <memory>
#include <mutex>

#include "device/device_object.h"
#include "core/messages.h"
#include "core/library_app.h"
#include "platform/live_set.h"
#include "platform/platform.h"

namespace kvd::host {
namespace {

// Failure codes of the error log.
constexpr int32_t kCommonCode = 1;
constexpr int32_t kNameCode = 2;

// The record behind an hFileObject. Its mutex keeps a seek and the read that
// follows it together, and keeps a release from closing the file under a
// call that is using it.
struct FileObject {
    std::mutex mutex;
    platform::File *file = nullptr; // null once released
};

platform::LiveSet<FileObject> &liveFiles() {
    // Never destroyed: exports may run during static destruction of a host.
    static auto *files = new platform::LiveSet<FileObject>;
    return *files;
}

KVD4093_HANDLE addFileObject(platform::File *file) {
    auto object = platform::makeQuarantined<FileObject>();
    object->file = file;
    return liveFiles().add(std::move(object));
}

std::shared_ptr<FileObject> findFileObject(KVD4093_HANDLE handle) { return liveFiles().find(handle); }

std::shared_ptr<FileObject> removeFileObject(KVD4093_HANDLE handle) { return liveFiles().remove(handle); }

// Runs use(file) on the open file behind a live handle. A dead handle gives
// 0, after an entry under functionName when there is one.
template <class Result, class Use>
Result withOpenFile(KVD4093_HANDLE handle, const char *functionName, Use use) {
    if (const std::shared_ptr<FileObject> object = findFileObject(handle)) {
        std::lock_guard lock(object->mutex);
        if (object->file != nullptr)
            return use(object->file);
    }
    if (functionName != nullptr)
        theApp().logError(kCommonCode, functionName, text::kFileHandleInvalid);
    return 0;
}

// Closes a file that was opened but never handed out.
struct CloseFile {
    void operator()(platform::File *file) const { platform::closeFile(file); }
};

} // namespace

KVD4093_HANDLE createFileObject(KVD4093_HANDLE hDevice, const char *fileName, uint32_t mode) {
    if (device::liveDevice(hDevice) == nullptr)
        return nullptr;
    if (fileName == nullptr) {
        theApp().logError(kNameCode, "KVD4093_CreateFileObject", text::kFileNameEmpty);
        return KVD4093_INVALID_HANDLE;
    }
    std::unique_ptr<platform::File, CloseFile> file(platform::openFile(fileName, mode));
    if (!file)
        return KVD4093_INVALID_HANDLE;
    KVD4093_HANDLE handle = addFileObject(file.get());
    file.release(); // the FileObject owns it now
    return handle;
}

int32_t writeFileObject(KVD4093_HANDLE hFileObject, const void *data, uint32_t size) {
    return withOpenFile<int32_t>(hFileObject, "KVD4093_WriteFile",
                                 [&](platform::File *file) { return platform::writeFile(file, data, size) ? 1 : 0; });
}

int32_t readFileObject(KVD4093_HANDLE hFileObject, void *data, uint32_t offset, uint32_t size) {
    return withOpenFile<int32_t>(hFileObject, "KVD4093_ReadFile", [&](platform::File *file) {
        return platform::seekFile(file, offset) && platform::readFile(file, data, size) >= 0 ? 1 : 0;
    });
}

uint32_t fileObjectLength(KVD4093_HANDLE hFileObject) {
    return withOpenFile<uint32_t>(hFileObject, "KVD4093_GetFileLength", [](platform::File *file) {
        const int64_t length = platform::fileLength(file);
        return length < 0 ? 0u : static_cast<uint32_t>(length);
    });
}

int32_t setFileObjectOffset(KVD4093_HANDLE hFileObject, uint32_t offset) {
    return withOpenFile<int32_t>(hFileObject, nullptr,
                                 [&](platform::File *file) { return platform::seekFile(file, offset) ? 1 : 0; });
}

int32_t releaseFileObject(KVD4093_HANDLE hFileObject) {
    const std::shared_ptr<FileObject> object = removeFileObject(hFileObject);
    if (!object)
        return 0;
    std::lock_guard lock(object->mutex);
    const bool closed = platform::closeFile(object->file);
    object->file = nullptr;
    return closed ? 1 : 0;
}

int64_t diskFreeBytes(const char *directory) { return platform::diskFreeBytes(directory); }

} // namespace kvd::host
