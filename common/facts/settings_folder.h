// The folder of the Linux settings file, as the card library finds it and
// the tool checks it: $XDG_CONFIG_HOME when it is absolute, else
// $HOME/.config (the XDG rules ignore a relative path).
#pragma once

#include <optional>
#include <string>

namespace kvd::facts {

// From the two variables' values (null when unset); nullopt when neither
// names an absolute folder.
std::optional<std::string> settingsFolder(const char *xdgConfigHome, const char *home);

} // namespace kvd::facts
