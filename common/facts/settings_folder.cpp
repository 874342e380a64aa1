#include "facts/settings_folder.h"

namespace kvd::facts {

std::optional<std::string> settingsFolder(const char *xdgConfigHome, const char *home) {
    if (xdgConfigHome != nullptr && xdgConfigHome[0] == '/')
        return std::string(xdgConfigHome);
    if (home != nullptr && home[0] == '/')
        return std::string(home) + "/.config";
    return std::nullopt;
}

} // namespace kvd::facts
