#include "errors.h"

#include "KVD4093.h"
#include "text_conversion.h"

namespace kvd::tool {

std::string libraryMessage(const char *loggedName) {
    // The answer is the message, the name and three bytes; no message the
    // library logs comes near this size.
    char answer[1024] = {};
    KVD4093_GetLastErrorEx(loggedName, answer);
    return gbkToTerminal(answer);
}

void failCall(const char *function, const char *loggedName) {
    throw CallFailed(std::string(function) + " failed: " + libraryMessage(loggedName ? loggedName : function));
}

} // namespace kvd::tool
