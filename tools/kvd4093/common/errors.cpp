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

// The message alone, without the "[name]" the log's answer ends with.
std::string_view withoutEcho(std::string_view answer, std::string_view name) {
    if (answer.size() < name.size() + 2 || !answer.ends_with(']'))
        return answer;
    const std::string_view echo = answer.substr(answer.size() - name.size() - 2);
    return echo[0] == '[' && echo.substr(1, name.size()) == name ? answer.substr(0, answer.size() - echo.size())
                                                                 : answer;
}

} // namespace

std::string libraryMessage(const char *loggedName) {
    // The answer echoes the name, so its room grows with the name.
    std::vector<char> answer(std::strlen(loggedName) + kRoomForMessage, '\0');
    KVD4093_GetLastErrorEx(loggedName, answer.data());
    std::string shown = gbkToTerminal(answer.data());
    // Appended, not added up from pieces: g++ 12 sees overlapping copies
    // in `" (" + english` in an optimised build (-Wrestrict).
    if (const std::string english = englishRendering(withoutEcho(answer.data(), loggedName)); !english.empty())
        shown.append(" (").append(english).append(")");
    return shown;
}

std::string failureText(const char *function, const char *loggedName) {
    return std::string(function) + " failed: " + libraryMessage(loggedName ? loggedName : function);
}

void failCall(const char *function, const char *loggedName) { throw CallFailed(failureText(function, loggedName)); }

} // namespace kvd::tool
