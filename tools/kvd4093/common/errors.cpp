#include "common/errors.h"

#include <cstring>
#include <string_view>
#include <vector>

#include "KVD4093.h"
#include "common/english_rendering.h"
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
    std::string_view message(answer.data());
    const std::string echo = "[" + std::string(loggedName) + "]";
    if (message.ends_with(echo))
        message.remove_suffix(echo.size());
    const std::string english = englishRendering(message);
    return gbkToTerminal(answer.data()) + (english.empty() ? "" : " (" + english + ")");
}

std::string failureText(const char *function, const char *loggedName) {
    return std::string(function) + " failed: " + libraryMessage(loggedName ? loggedName : function);
}

void failCall(const char *function, const char *loggedName) { throw CallFailed(failureText(function, loggedName)); }

} // namespace kvd::tool
