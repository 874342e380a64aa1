#include "core/library_app.h"

#include <atomic>
#include <mutex>
#include <new>

#include "core/messages.h"
#include "platform/platform.h"

namespace kvd {
namespace {

// The object lives in plain static storage and is made on first use, not by
// static initialisation, and it is never destroyed: at exit() the runtime
// destroys a shared object's static objects before it runs the object's
// destructor functions, so a static LibraryApp would be gone when the exit
// hook needs its log. Everything here is constant-initialised or made on
// first use, and has no destructor, so it is valid before any static
// constructor of the library has run and after every static destructor.
//
// At unload the log is emptied instead of the object destroyed: on POSIX
// other threads go on running through exit() and may still be inside an
// export, so nothing they can reach may be destroyed or built again under
// them. Emptying the log frees its memory, so a program that loads and
// unloads the library again and again leaks nothing; what is logged after
// the unload is never written to a file.
alignas(LibraryApp) constinit unsigned char g_storage[sizeof(LibraryApp)] = {};
constinit std::atomic<LibraryApp *> g_app{nullptr};

// Guards making and destroying the object. A local static rather than a
// constinit one: std::mutex has a constant initializer with glibc but not
// with mingw-w64's threads, and a local static is made on first use, from
// whatever static constructor that comes; its destructor does nothing.
std::mutex &lifetimeMutex() {
    static std::mutex mutex;
    return mutex;
}

} // namespace

bool LibraryApp::initInstance() {
    platform::setProfileRoot(text::kRegistryKey, text::kApplicationName);
    return true;
}

int32_t LibraryApp::exitInstance() {
    errorLog_.writeFile(text::kErrorLogFileName); // the unload goes on whether or not the file could be written
    return 0;
}

LibraryApp &theApp() {
    if (LibraryApp *app = g_app.load(std::memory_order_acquire))
        return *app;
    std::lock_guard lock(lifetimeMutex());
    LibraryApp *app = g_app.load(std::memory_order_relaxed);
    if (app == nullptr) {
        app = new (g_storage) LibraryApp;
        g_app.store(app, std::memory_order_release);
    }
    return *app;
}

void retireTheApp() { theApp().errorLog().clear(); }

} // namespace kvd
