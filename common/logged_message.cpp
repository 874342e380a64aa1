#include "logged_message.h"

#include <cstring>
#include <vector>

#include "KVD4093.h"
#include "KVD4093_messages_english.h"

namespace kvd::common {
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

std::string loggedMessage(const char *loggedName, std::string (*fromGbk)(std::string_view)) {
    // The answer echoes the name, so its room grows with the name.
    std::vector<char> answer(std::strlen(loggedName) + kRoomForMessage, '\0');
    KVD4093_GetLastErrorEx(loggedName, answer.data());
    std::string shown = fromGbk(answer.data());
    // Appended, not added up from pieces: g++ 12 sees overlapping copies
    // in `" (" + english` in an optimised build (-Wrestrict).
    if (const std::string english = messages::englishRendering(withoutEcho(answer.data(), loggedName));
        !english.empty())
        shown.append(" (").append(english).append(")");
    return shown;
}

} // namespace kvd::common
