// The library's life in a process: what happens when a process loads it, when
// one of its threads ends, and when it unloads it. The OS entry (the shared
// object's constructor and destructor, or DllMain) calls these and nothing else.
#pragma once

namespace kvd::host {

// Process attach: makes the one LibraryApp (empty error log) and runs its
// start-up hook, which selects the settings root "Olm". false fails the load.
bool processAttach();

// Thread detach: a thread of the process ends. Touches nothing of the library's.
void threadDetach();

// Process detach: runs the exit hook (the error log goes to "KVD4093Err.log"
// in the current directory), then empties the log.
void processDetach();

} // namespace kvd::host
