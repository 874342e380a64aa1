// The library's life in a process, the same on every OS: the entry of the
// shared object (or DllMain) calls these three and nothing else.
#include "host/lifecycle.h"

#include "device/trace.h"
#include "core/library_app.h"

namespace kvd::host {

bool processAttach() {
    LibraryApp &app = theApp(); // made here, with an empty log, before any export can run
    if (app.initInstance())
        return true;
    app.exitInstance(); // a failed start still leaves its log file
    retireTheApp();
    return false;
}

void threadDetach() {
    // The library keeps nothing per thread that needs ending: the calling
    // thread's last-error code ends with the thread by itself.
}

void processDetach() {
    theApp().exitInstance();
    retireTheApp();
    // The trace file of KVD4093_TRACE goes with the library: a process that
    // unloads it keeps no open handle (on Windows the file could not be
    // deleted while one is open).
    trace::traceTo(nullptr);
}

} // namespace kvd::host
