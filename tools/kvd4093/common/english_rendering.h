// The English rendering of a message the library logged, from the table the
// troubleshooting page and the tool share (KVD4093_messages_english.h).
#pragma once

#include <string>
#include <string_view>

namespace kvd::tool {

// The rendering of a logged message (GBK, without the "[name]" the log's
// answer adds), its number filled in; empty for a message the table does
// not hold, as for the English ones.
std::string englishRendering(std::string_view logged);

} // namespace kvd::tool
