// The single process-wide application object: it owns the error log from
// load to unload, and its hooks run when the library loads and unloads.
#pragma once

#include <cstdint>

#include "core/error_log.h"

namespace kvd {

class LibraryApp {
public:
    ErrorLog &errorLog() { return errorLog_; }

    // Appends one error-log entry and makes a nonzero code the thread's last-error code.
    int32_t logError(int32_t code, const char *functionName, const char *message) {
        return errorLog_.logError(code, functionName, message);
    }

    // The start-up hook: points the profile operations at the settings root
    // Software\Olm\KVD4093. False would fail the load; it never is.
    bool initInstance();

    // The exit hook: writes the error log to KVD4093Err.log in the current directory.
    int32_t exitInstance();

private:
    ErrorLog errorLog_;
};

// The one LibraryApp of the process, made with an empty log on first use
// and never destroyed. The load makes it before any export can run; programs
// that link the library's code statically make it at their first call.
LibraryApp &theApp();

// Ends the LibraryApp's life at unload, after its exit hook has run: its log
// is emptied and its memory freed, while the object itself stays valid for
// threads that still call the library (see library_app.cpp).
void retireTheApp();

} // namespace kvd
