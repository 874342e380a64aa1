// The English renderings of the error log's messages, as the
// troubleshooting page gives them, for the panel's log beside the Chinese.
#pragma once

#include <string>
#include <string_view>

namespace kvd::tool::panel {

struct LogRendering {
    const char *message; // UTF-8, "%d" where the library fills in a number
    const char *english; // "%d" for the same number
};

// Every message the error log holds, in the troubleshooting page's order.
const LogRendering *logRenderingsBegin();
const LogRendering *logRenderingsEnd();

// The English of a logged message (UTF-8, its number filled in), or "" for a
// message the table does not know.
std::string englishOf(std::string_view message);

} // namespace kvd::tool::panel
