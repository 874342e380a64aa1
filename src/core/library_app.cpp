#include "core/library_app.h"

#include <atomic>
#include <mutex>
#include <new>

#include "core/messages.h"
#include "platform/platform.h"

namespace kvd {
namespace {

// The object lives in plain static storage and the lifecycle makes and
// destroys it, not static initialisation and destruction: at exit() the
// runtime destroys a shared object's static objects before it runs the
// object's destructor functions, so a static LibraryApp would be gone when
// the exit hook needs its log. Everything here is constant-initialised or
// made on first use, and has no destructor, so it is valid before any static
// constructor of the library has run and after every static destructor.
//
// A call after unload (from another library's exit code, say) finds no
// object and makes a fresh, empty one in the same storage: it works, and
// what it logs is never written to a file, as nothing of the library runs
// after unload. That is chosen over keeping one object for ever because an
// object never destroyed would leak its log each time a program dlcloses
// the library.
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

void destroyTheApp() {
    std::lock_guard lock(lifetimeMutex());
    if (LibraryApp *app = g_app.exchange(nullptr))
        app->~LibraryApp();
}

} // namespace kvd
