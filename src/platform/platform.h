// The platform contract: the only door from the library's own code to the OS.
//
// Two kinds of platform code sit below it:
//  - OS services, chosen at build time: posix/ or win32/ implements the free
//    functions declared here;
//  - card backends, chosen at run time: one ops table per backend (the OS
//    driver, the virtual card), selected by activeCardBackend().
// No OS type crosses this header: handles are opaque.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "KVD4093.h"

namespace kvd::platform {

// ---- time -------------------------------------------------------------------

// The current time in UTC, field by field, as the OS reports it.
struct SystemTime {
    uint16_t year;
    uint16_t month;
    uint16_t dayOfWeek;
    uint16_t day;
    uint16_t hour;
    uint16_t minute;
    uint16_t second;
    uint16_t milliseconds;
};
SystemTime utcNow();

// Milliseconds since some fixed point, wrapping at 2^32 (the OS tick count).
uint32_t tickCount();

// ---- the calling thread's last-error code -------------------------------------

uint32_t lastError();
void setLastError(uint32_t code);

// ---- files --------------------------------------------------------------------

// Attribute bits as the Windows file system names them; POSIX maps read-only
// onto the owner's write permission and reports no file hidden.
constexpr uint32_t kAttributeReadOnly = 0x01;
constexpr uint32_t kAttributeHidden = 0x02;

// Reads a file's attributes; false when the file does not exist.
bool fileAttributes(const char *path, uint32_t *attributes);
// Rewrites a file's attributes; false when the OS refuses.
bool setFileAttributes(const char *path, uint32_t attributes);

// Open-mode bits of the host framework's file class, interpreted the same on
// every platform.
namespace file_mode {
constexpr uint32_t kRead = 0x0000;
constexpr uint32_t kWrite = 0x0001;
constexpr uint32_t kReadWrite = 0x0002;
constexpr uint32_t kShareCompat = 0x0000;
constexpr uint32_t kShareExclusive = 0x0010;
constexpr uint32_t kShareDenyWrite = 0x0020;
constexpr uint32_t kShareDenyRead = 0x0030;
constexpr uint32_t kShareDenyNone = 0x0040;
constexpr uint32_t kNoInherit = 0x0080;
constexpr uint32_t kCreate = 0x1000;
constexpr uint32_t kNoTruncate = 0x2000;
constexpr uint32_t kText = 0x4000;
constexpr uint32_t kBinary = 0x8000;
} // namespace file_mode

struct File; // opaque OS file

// Opens a file with the framework's mode bits; nullptr on failure.
File *openFile(const char *path, uint32_t mode);
// Opens a file for appending whole records: every write lands at the end,
// even with several writers. Creates the file when missing; nullptr on failure.
File *openFileForAppend(const char *path);
// Writes all bytes at the current position; false when not all were written.
bool writeFile(File *file, const void *data, uint32_t size);
// Reads up to size bytes at the current position; the count read, -1 on failure.
int64_t readFile(File *file, void *data, uint32_t size);
// Moves the current position to offset bytes from the start; false on failure.
bool seekFile(File *file, uint32_t offset);
// The file's length in bytes; -1 on failure.
int64_t fileLength(File *file);
// Closes the file and frees its record; false when the OS reports an error.
bool closeFile(File *file);

// ---- environment -----------------------------------------------------------

// The value of an environment variable, or nullptr when unset.
const char *environmentVariable(const char *name);

// ---- the per-user profile (settings) -------------------------------------------
// On Windows the registry under HKEY_CURRENT_USER\Software\<key>\<application>;
// on POSIX one REGEDIT4-format file per user. A section is a path of
// sub-keys below the root joined by '\'; "" is the root itself. Names and
// texts are GBK bytes, stored unchanged.

// Selects the root for every later profile call (the start-up hook does this once).
void setProfileRoot(const char *key, const char *application);

// Which store the profile calls use. KVD4093_SETTINGS names one explicitly
// (on POSIX the settings file, on Windows a key below HKEY_CURRENT_USER),
// for real and virtual cards alike. Otherwise it is the application's own
// store, except while the cards are the virtual cards of
// KVD4093_VIRTUAL_CARDS: then its sibling "<application>-virtual", so that
// trying virtual cards leaves the real cards' saved settings alone.
struct ProfileStore {
    std::string named;       // KVD4093_SETTINGS, empty when unset
    std::string application; // the application's store name to use
};
ProfileStore profileStore(const std::string &application);
// Stores a 32-bit value (DWORD), creating the section's keys; false on failure.
bool writeProfileInt(const char *section, const char *name, int32_t value);
// The stored value, or defaultValue when the value or its section is missing.
int32_t profileInt(const char *section, const char *name, int32_t defaultValue);
// One read of a batch: an integer value by name, and the default it reads as
// when the value or its section is missing; the result lands in value.
struct ProfileRead {
    const char *name;
    int32_t defaultValue;
    int32_t value;
};
// Reads integer values of one section, each as profileInt would, in one look
// at the store where the store can (on POSIX one read of the file instead of
// one per value).
void profileInts(const char *section, ProfileRead *reads, size_t count);
// Stores a string value; false on failure.
bool writeProfileString(const char *section, const char *name, const char *value);
// The stored text, or defaultValue when the value or its section is missing.
std::string profileString(const char *section, const char *name, const char *defaultValue);
// Deletes a section: its key with all its values and sub-keys. false on failure.
bool deleteProfileSection(const char *section);

// One write of a batch: an integer value, or a string value when text is not null.
struct ProfileWrite {
    const char *section;
    const char *name;
    int32_t number;
    const char *text;
};
// Makes the writes in order, as one change where the store can (on POSIX one
// rewrite of the file instead of one per value). Returns how many landed:
// all of them, or those before the first that failed, exactly what the same
// writes made one by one would leave. A store without a cheaper way makes
// them one by one.
size_t writeProfileValues(const ProfileWrite *writes, size_t count);

// ---- disks -----------------------------------------------------------------------

// The total free bytes of the disk that holds directory; -1 on failure.
int64_t diskFreeBytes(const char *directory);

// ---- threads, events and handles ----------------------------------------------------

struct Handle; // an OS thread or event handle (on POSIX: an object of the library)

// Creates a thread that does not run until resumed; nullptr on failure.
Handle *createSuspendedThread(KVD4093_THREAD_ROUTINE routine, void *parameter);
// The thread's exit code (259 while it runs); false for a handle that is not a thread.
bool threadExitCode(Handle *thread, uint32_t *exitCode);
// Ends a thread at once; false on failure. The handle stays open.
bool terminateThread(Handle *thread, uint32_t exitCode);
// Creates an unnamed auto-reset event, not signalled; nullptr on failure.
Handle *createAutoResetEvent();
// Closes a thread or event handle; false for anything else.
bool closeHandle(Handle *handle);

#if !defined(_WIN32)
// POSIX only: what a Windows caller gets for these handles from the OS itself.
// Lets a suspended thread run; false for a handle that is not a live thread
// or a thread terminated before it ran.
bool resumeThread(Handle *thread);
// Signals an event; false for a handle that is not a live event.
bool setEvent(Handle *event);
constexpr uint32_t kWaitForever = 0xFFFFFFFF;
// Waits until the event is signalled and resets it (1), or until the
// milliseconds have passed (0; kWaitForever never passes). -1 for a handle
// that is not a live event.
int32_t waitEvent(Handle *event, uint32_t milliseconds);
#endif

// ---- programs, counters, console -----------------------------------------------------

// Starts a program or opens a document by its path, as WinExec does; returns
// WinExec's result (above 31 on success, 2 file not found, 3 path not found).
uint32_t startProgram(const char *commandLine, uint32_t showState);
// The high-resolution counter: ticks per second and the current count.
int64_t performanceFrequency();
int64_t performanceCounter();
// Console keys, without echo: nonzero when a key is waiting; the next key's code.
int32_t keyPending();
int32_t readKey();
// The window in the foreground (owner of a box); nullptr where there are no windows.
void *foregroundWindow();

// ---- messages to the person at the screen -----------------------------------

constexpr uint32_t kMessageOk = 0x00;
constexpr uint32_t kMessageIconInformation = 0x40;

// Shows a GBK text in a message box (on POSIX: on standard error, converted
// to the terminal's encoding) and returns when the person has closed it.
// A capture installed with setMessageCapture receives the original bytes
// instead; tests use it so that no box ever blocks them.
void showMessage(const char *text, const char *caption, uint32_t style);

using MessageCapture = void (*)(void *context, const char *text, const char *caption, uint32_t style);
void setMessageCapture(MessageCapture capture, void *context);

// The OS half of showMessage, implemented by posix/ or win32/.
void osShowMessage(const char *text, const char *caption, uint32_t style);

// ---- card backends ---------------------------------------------------------------

// An open driver file of one card, as a backend hands it out. Opaque above the seam.
struct BackendFile;

// One card backend. Every entry must be safe to call from any thread; the
// backend serialises what it needs to.
struct CardBackend {
    // Short name for the trace and diagnostics ("windows", "virtual", "none").
    const char *name;

    // Opens the card at logicalNumber, counted from 0 in the stable order in
    // which the backend lists the present cards of the card's class.
    // On success returns the driver file and sets *status to 0.
    // On failure returns nullptr and sets *status to the OS error code of the
    // step that failed (on Windows 87, 122, 8 or GetLastError as the
    // enumeration gives them; on POSIX an errno value).
    BackendFile *(*open)(int32_t logicalNumber, uint32_t *status);

    // Makes one synchronous driver request and returns the OS call's own
    // truth value unchanged (nonzero success, 0 failure). The request is
    // complete when this returns. *bytesReturned receives the count the
    // driver reports; bytesReturned must not be null. Buffers are passed as
    // the request code defines them: the identity requests answer in the
    // 4-byte input buffer, the bulk requests move data through output.
    // A null buffer with a nonzero length, an unknown code or pipe fails the
    // request (returns 0) and never crashes.
    int32_t (*request)(BackendFile *file, uint32_t code, void *input, uint32_t inputSize, void *output,
                       uint32_t outputSize, uint32_t *bytesReturned);

    // Ends the requests waiting on the driver file at this moment: a read
    // waiting for data returns 0 at once and never touches its buffer after
    // that. Requests made later are not affected. Safe while other threads
    // are inside request() on the file; does not free it.
    void (*cancel)(BackendFile *file);

    // Closes the driver file; called only when no request on it runs. On
    // success frees it, and it is never used again; on failure returns false
    // and the file stays open and usable.
    bool (*close)(BackendFile *file);
};

// The open status of a card that another program holds.
#if defined(_WIN32)
constexpr uint32_t kStatusCardBusy = 32; // ERROR_SHARING_VIOLATION
#else
constexpr uint32_t kStatusCardBusy = 16; // EBUSY
#endif

// The backend that answers for this process: the virtual cards when they are
// installed or listed in KVD4093_VIRTUAL_CARDS, else the OS driver.
const CardBackend &activeCardBackend();

// The OS driver backend of this platform: the Windows driver, or on Linux
// the USB backend.
const CardBackend &osCardBackend();

// Installs a backend for the whole process, overriding the selection above;
// nullptr goes back to it. Used by the virtual card's control interface.
void overrideCardBackend(const CardBackend *backend);

} // namespace kvd::platform
