#include "host/library_app.h"

#include "diagnostics/messages.h"

namespace kvd {

int32_t LibraryApp::exitInstance() {
    errorLog_.writeFile(text::kErrorLogFileName); // the unload goes on whether or not the file could be written
    return 0;
}

LibraryApp &theApp() {
    // Made on first use and never destroyed, so that exports called from
    // other static destructors still find it.
    static auto *app = new LibraryApp;
    return *app;
}

} // namespace kvd
