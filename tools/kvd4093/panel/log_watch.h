// The library's error log as it grows. The library offers one way to read
// it while it runs, the newest message under each function name
// (KVD4093_GetLastErrorEx), so the watch asks for every name the library
// logs under and reports each answer that changed since it last asked: a new
// entry. A repeat of the same message is seen only where the panel knows a
// call just failed.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace kvd::tool::panel {

struct LogEntry {
    std::string time;     // UTC, ISO 8601, when the panel saw it
    std::string function; // the name it is logged under
    std::string message;  // the library's text in UTF-8
    std::string english;  // the troubleshooting page's rendering; "" if unknown
};

class LogWatch {
public:
    // What the log holds now counts as seen.
    LogWatch();

    // The entries that came since the last call, in the order of kLoggedNames.
    // A call that just failed and logged under `failed` left an entry even
    // when it repeats the message the name had: it is reported too.
    std::vector<LogEntry> newEntries(const std::string &failed = {});
    // Takes what the log holds now as seen, without reporting it.
    void markSeen();

private:
    std::map<std::string, std::string> seen_; // name -> newest answer
};

} // namespace kvd::tool::panel
