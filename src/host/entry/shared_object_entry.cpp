// The entry of libkvd4093.so: the loader runs the constructor when the
// library is loaded (at program start-up or by dlopen) and the destructor
// when it is unloaded (by dlclose or at normal process exit). Only the shared
// library holds this file; programs that link the library's code statically
// (the tests, the tools) have no entry and write no log file at exit.
//
// The order against the library's other static objects does not matter:
// processAttach touches only constant-initialised state, and processDetach
// runs before the runtime's dlclose clean-up, or at exit after static
// destruction, whose objects the exit hook does not use (library_app.cpp).
#include "host/lifecycle.h"

namespace {

// A constructor cannot fail a load on POSIX; the start-up hook never fails.
__attribute__((constructor)) void loadLibrary() { kvd::host::processAttach(); }

__attribute__((destructor)) void unloadLibrary() { kvd::host::processDetach(); }

} // namespace
