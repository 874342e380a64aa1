// The choice of the settings store: one the user names, the virtual cards'
// own, or the application's.
#include "platform/platform.h"
#include "platform/virtual/card_registry.h"

namespace kvd::platform {
namespace {

constexpr char kStoreVariable[] = "KVD4093_SETTINGS";
constexpr char kVirtualCardsSuffix[] = "-virtual";

} // namespace

ProfileStore profileStore(const std::string &application) {
    if (const char *named = environmentVariable(kStoreVariable); named != nullptr && *named != '\0')
        return {named, application};
    if (!vcard::environmentCards().empty())
        return {"", application + kVirtualCardsSuffix};
    return {"", application};
}

} // namespace kvd::platform
