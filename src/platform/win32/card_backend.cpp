// The Windows card backend: the card's kernel-mode driver, found through the
// setup enumeration of its device-interface class, opened as a file and
// driven with DeviceIoControl. Every open enumerates afresh; nothing of an
// enumeration outlives the call.
#include <windows.h>
#include <setupapi.h>

#include <memory>
#include <new>

#include "platform/platform.h"

namespace kvd::platform {
namespace {

// {6B1D4093-2F7A-4C55-9E13-A0C4D7E25B18}
constexpr GUID kCardInterfaceClass{0x6B1D4093, 0x2F7A, 0x4C55, {0x9E, 0x13, 0xA0, 0xC4, 0xD7, 0xE2, 0x5B, 0x18}};

constexpr DWORD kPresentInterfaces = DIGCF_PRESENT | DIGCF_DEVICEINTERFACE;
static_assert(kPresentInterfaces == 0x12);
constexpr DWORD kReadWrite = GENERIC_READ | GENERIC_WRITE;
static_assert(kReadWrite == 0xC0000000);
constexpr DWORD kShareReadWrite = FILE_SHARE_READ | FILE_SHARE_WRITE;
static_assert(kShareReadWrite == 3);
// The driver file is opened for overlapped I/O, so that requests on it run
// side by side: the stop's writes on pipe 0 reach the driver while a read on
// pipe 2 waits there. Each request therefore carries an OVERLAPPED record and
// an event no other request uses meanwhile, and waits for that. Without a
// record the OS would wait on the file object, which every completion on the
// file signals: a write finishing would end a waiting read early, with no
// result, while the driver still owns the read's buffer and status block.
constexpr DWORD kNormalOverlapped = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED;
static_assert(kNormalOverlapped == 0x40000080);

// The enumeration's status codes.
constexpr DWORD kInvalidParameter = ERROR_INVALID_PARAMETER;
constexpr DWORD kBufferTooSmall = ERROR_INSUFFICIENT_BUFFER;
constexpr DWORD kNotEnoughMemory = ERROR_NOT_ENOUGH_MEMORY;
static_assert(kInvalidParameter == 87 && kBufferTooSmall == 122 && kNotEnoughMemory == 8);

// The setup API checks the size fields of its records against the sizes of
// this build: 28 and 5 on 32-bit Windows, 32 and 8 on 64-bit Windows.
#ifdef _WIN64
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == 32);
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == 8);
#else
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == 28);
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == 5);
#endif

BackendFile *fromWindows(HANDLE file) { return reinterpret_cast<BackendFile *>(file); }
HANDLE toWindows(BackendFile *file) { return reinterpret_cast<HANDLE>(file); }

// The device path of member n of the set, or nullptr with *status set.
std::unique_ptr<BYTE[]> interfaceDetail(HDEVINFO set, const GUID &classId, DWORD n, uint32_t *status) {
    *status = kInvalidParameter;
    SP_DEVICE_INTERFACE_DATA interface{};
    interface.cbSize = sizeof interface;
    if (!SetupDiEnumDeviceInterfaces(set, nullptr, &classId, n, &interface)) {
        *status = GetLastError();
        return nullptr;
    }
    // First ask how large the detail is; only "buffer too small" lets the open go on.
    DWORD size = 0;
    SetupDiGetDeviceInterfaceDetailA(set, &interface, nullptr, 0, &size, nullptr);
    *status = GetLastError();
    if (*status != kBufferTooSmall)
        return nullptr;
    if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) // no room even for the size field: not a detail
        return nullptr;
    std::unique_ptr<BYTE[]> buffer(new (std::nothrow) BYTE[size]);
    if (!buffer) {
        *status = kNotEnoughMemory;
        return nullptr;
    }
    auto *detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A *>(buffer.get());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    if (!SetupDiGetDeviceInterfaceDetailA(set, &interface, detail, size, nullptr, nullptr)) {
        *status = GetLastError();
        return nullptr;
    }
    *status = 0;
    return buffer;
}

HANDLE openDevicePath(const char *path, uint32_t *status) {
    const HANDLE file = CreateFileA(path, kReadWrite, kShareReadWrite, nullptr, OPEN_EXISTING, kNormalOverlapped, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        *status = GetLastError();
    return file;
}

BackendFile *openCard(int32_t logicalNumber, uint32_t *status) {
    uint32_t unused = 0;
    status = status ? status : &unused;
    *status = kInvalidParameter;
    GUID classId = kCardInterfaceClass; // the set's private copy
    const HDEVINFO set = SetupDiGetClassDevsA(&classId, nullptr, nullptr, kPresentInterfaces);
    if (set == INVALID_HANDLE_VALUE) {
        *status = GetLastError();
        return nullptr;
    }
    *status = 0;
    HANDLE file = INVALID_HANDLE_VALUE;
    // The logical number is the member index; a negative one finds no member.
    if (const auto detail = interfaceDetail(set, classId, static_cast<DWORD>(logicalNumber), status)) {
        const auto *path = reinterpret_cast<const SP_DEVICE_INTERFACE_DETAIL_DATA_A *>(detail.get())->DevicePath;
        file = openDevicePath(path, status);
    }
    SetupDiDestroyDeviceInfoList(set);
    return file == INVALID_HANDLE_VALUE ? nullptr : fromWindows(file);
}

// The requests' events, kept for reuse, so that a steady acquisition makes
// no kernel object per request. An event serves one request at a time; the
// pool grows to the most requests ever in flight at once (a read and a stop's
// writes: two or three) and keeps at most kKeptEvents. The events live as long
// as the process: a thread-local event would need a hook at every thread's
// end, which a DLL unloaded before its callers' threads end cannot keep.
class EventPool {
public:
    // A manual-reset event, not signalled; nullptr when none can be made.
    HANDLE take() {
        {
            Lock lock(this);
            if (count_ > 0)
                return kept_[--count_];
        }
        return CreateEventA(nullptr, TRUE, FALSE, nullptr);
    }
    // Gives an event back for the next request; GetOverlappedResult has seen
    // it signalled, so it is reset first.
    void give(HANDLE event) {
        ResetEvent(event);
        {
            Lock lock(this);
            if (count_ < kKeptEvents) {
                kept_[count_++] = event;
                return;
            }
        }
        CloseHandle(event);
    }

private:
    static constexpr size_t kKeptEvents = 16;
    struct Lock {
        explicit Lock(EventPool *pool) : lock(&pool->lock_) { AcquireSRWLockExclusive(lock); }
        ~Lock() { ReleaseSRWLockExclusive(lock); }
        SRWLOCK *lock;
    };
    SRWLOCK lock_ = SRWLOCK_INIT;
    HANDLE kept_[kKeptEvents] = {};
    size_t count_ = 0;
};

// Constant-initialised and never destroyed: requests may come during the
// static destruction of a host.
constinit EventPool g_events;

// One request with its own OVERLAPPED record and event, waited for until the
// driver has completed it (or, cancelled, ended it): the caller sees one
// synchronous call, and the driver never touches its buffers afterwards.
BOOL requestAndWait(HANDLE file, uint32_t code, void *input, uint32_t inputSize, void *output, uint32_t outputSize,
                    DWORD *returned) {
    OVERLAPPED overlapped{};
    overlapped.hEvent = g_events.take();
    if (overlapped.hEvent == nullptr)
        return FALSE;
    BOOL result = DeviceIoControl(file, code, input, inputSize, output, outputSize, returned, &overlapped);
    if (!result && GetLastError() == ERROR_IO_PENDING)
        result = GetOverlappedResult(file, &overlapped, returned, TRUE);
    g_events.give(overlapped.hEvent);
    return result;
}

int32_t requestCard(BackendFile *file, uint32_t code, void *input, uint32_t inputSize, void *output,
                    uint32_t outputSize, uint32_t *bytesReturned) {
    if ((input == nullptr && inputSize != 0) || (output == nullptr && outputSize != 0) || bytesReturned == nullptr)
        return 0;
    DWORD returned = 0;
    const BOOL result = requestAndWait(toWindows(file), code, input, inputSize, output, outputSize, &returned);
    *bytesReturned = returned;
    return result;
}

// Every request on the file, from any thread, that the driver holds now ends
// "cancelled"; its caller's wait returns.
void cancelCard(BackendFile *file) { CancelIoEx(toWindows(file), nullptr); }

bool closeCard(BackendFile *file) { return CloseHandle(toWindows(file)) != 0; }

const CardBackend kWindowsBackend{"windows", &openCard, &requestCard, &cancelCard, &closeCard};

} // namespace

const CardBackend &osCardBackend() { return kWindowsBackend; }

} // namespace kvd::platform
