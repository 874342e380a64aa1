// The single process-wide application object: it owns the error log from
// load to unload, and its hooks run when the library loads and unloads.
#pragma once

#include <cstdint>

#include "diagnostics/error_log.h"

namespace kvd {

class LibraryApp {
public:
    ErrorLog &errorLog() { return errorLog_; }

    // Appends one error-log entry and makes a nonzero code the thread's last-error code.
    int32_t logError(int32_t code, const char *functionName, const char *message) {
        return errorLog_.logError(code, functionName, message);
    }

    // The exit hook: writes the error log to KVD4093Err.log in the current directory.
    int32_t exitInstance();

private:
    ErrorLog errorLog_;
};

// The one LibraryApp of the process.
LibraryApp &theApp();

} // namespace kvd
