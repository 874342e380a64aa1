// The DLL's entry: the OS calls it when a process loads the library, when a
// thread of the process ends, and when the process unloads the library. It
// hands each moment to the library's lifecycle and does nothing else. Built
// into KVD4093.dll only; the static library the tests link has no entry.
#include <windows.h>

#include "host/lifecycle.h"

namespace {

// When the attach fails, the C runtime's entry calls DllMain once more with
// process detach; the failed attach has written its log already, and a
// second exit hook would replace it with an empty one.
bool g_attached = false;

} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        g_attached = kvd::host::processAttach();
        return g_attached ? TRUE : FALSE;
    case DLL_THREAD_DETACH: kvd::host::threadDetach(); break;
    case DLL_PROCESS_DETACH:
        if (g_attached)
            kvd::host::processDetach();
        g_attached = false;
        break;
    default: break; // a thread starting needs nothing of ours
    }
    return TRUE;
}
