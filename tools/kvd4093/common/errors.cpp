#include "common/errors.h"

#include <cstring>
#include <vector>

#include "KVD4093.h"
#include "common/text_conversion.h"

namespace kvd::tool {
namespace {

// The answer is the message, then the name in brackets, then the
// terminating zero; the longest message the library logs is far below this.
constexpr size_t kRoomForMessage = 1024;

} // namespace

std::string libraryMessage(const char *loggedName) {
    // The answer echoes the name, so its room grows with the name.
    std::vector<char> answer(std::strlen(loggedName) + kRoomForMessage, '\0');
    KVD4093_GetLastErrorEx(loggedName, answer.data());
    return gbkToTerminal(answer.data());
}

void failCall(const char *function, const char *loggedName) {
    throw CallFailed(std::string(function) + " failed: " + libraryMessage(loggedName ? loggedName : function));
}

} // namespace kvd::tool
