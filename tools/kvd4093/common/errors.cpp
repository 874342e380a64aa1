#include "common/errors.h"

#include "KVD4093.h"
#include "logged_message.h"
#include "common/text_conversion.h"

namespace kvd::tool {

std::string libraryMessage(const char *loggedName) { return common::loggedMessage(loggedName, gbkToTerminal); }

std::string failureText(const char *function, const char *loggedName) {
    return std::string(function) + " failed: " + libraryMessage(loggedName ? loggedName : function);
}

void failCall(const char *function, const char *loggedName) { throw CallFailed(failureText(function, loggedName)); }

} // namespace kvd::tool
