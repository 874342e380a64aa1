#include "panel/log_watch.h"

#include <cstring>

#include "KVD4093.h"
#include "card/logged_names.h"
#include "common/english_rendering.h"
#include "common/system.h"
#include "common/text_conversion.h"

namespace kvd::tool::panel {
namespace {

constexpr size_t kRoomForMessage = 1024;
constexpr char kNoEntry[] = "No error message";

// The newest message under the name in GBK, without the "[name]" the answer ends with.
std::string newestMessage(const char *name) {
    std::vector<char> answer(std::strlen(name) + kRoomForMessage, '\0');
    KVD4093_GetLastErrorEx(name, answer.data());
    std::string text(answer.data());
    const std::string suffix = std::string(1, '[').append(name).append("]");
    if (text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0)
        text.resize(text.size() - suffix.size());
    return text;
}

} // namespace

LogWatch::LogWatch() { markSeen(); }

void LogWatch::markSeen() {
    for (const char *name : kLoggedNames)
        seen_[name] = newestMessage(name);
}

std::vector<LogEntry> LogWatch::newEntries(const std::string &failed) {
    std::vector<LogEntry> entries;
    for (const char *name : kLoggedNames) {
        std::string message = newestMessage(name);
        std::string &seen = seen_[name];
        if (message == seen && failed != name)
            continue;
        seen = message;
        if (message == kNoEntry) // the log was emptied
            continue;
        const std::string text = gbkToUtf8(message);
        // The library's English messages are their own rendering.
        const std::string english = englishRendering(message);
        entries.push_back({utcTimestamp(), name, text, english.empty() && text == message ? text : english});
    }
    return entries;
}

} // namespace kvd::tool::panel
