// The exported error-log lookup.
#include "KVD4093.h"
#include "core/export_guard.h"
#include "core/library_app.h"
#include "platform/platform.h"

extern "C" KVD4093_API uint32_t KVD4093_CALL KVD4093_GetLastErrorEx(const char *strFuncName, char *strErrorMsg) {
    // The thread's code is taken first, before anything here could change it.
    const uint32_t code = kvd::platform::lastError();
    kvd::guarded(0, [&] {
        kvd::theApp().errorLog().lookup(strFuncName, strErrorMsg);
        return 0;
    });
    return code;
}
