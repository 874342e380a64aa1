// Where the library writes for this user, and whether it can: the settings
// store (a file on Linux, the registry on Windows) and the folder where it
// writes its log file when a program ends (the current folder).
#pragma once

#include <string>

namespace kvd::tool {

struct PlaceCheck {
    std::string place; // "/home/u/.config/Olm/KVD4093.reg", "HKEY_CURRENT_USER\Software\Olm\KVD4093"
    bool ok = false;
    std::string state; // "readable and writable", "not writable (Permission denied)", ...
    std::string fix;   // the step that makes it usable; empty when ok
};

// The store the library uses: the one KVD4093_SETTINGS names, else the
// virtual cards' own while `virtualCards` (KVD4093-virtual), else the usual one.
PlaceCheck checkSettingsStore(bool virtualCards);
PlaceCheck checkLogFolder();

} // namespace kvd::tool
