#include "common/english_rendering.h"

#include "KVD4093_messages_english.h"

namespace kvd::tool {

std::string englishRendering(std::string_view logged) { return messages::englishRendering(logged); }

} // namespace kvd::tool
