// Why no card shows up on USB: the vendor:product pairs the library looks
// for, and the devices that match but cannot be opened for lack of permission
// or because another program holds them.
#pragma once

#include <string>
#include <vector>

namespace kvd::tool {

struct UsbDiagnosis {
    std::string pairs;                 // "1209:0001,1209:0002"; empty when none is set
    bool pairsFromEnvironment = false; // KVD4093_USB_IDS, else the library's built-in list
    size_t present = 0;                // matching devices present
    std::vector<std::string> denied;   // "1209:0001 on bus 1, port 1 (/dev/bus/usb/001/002)"
    std::vector<std::string> busy;     // the same, for devices another program holds
};

UsbDiagnosis diagnoseUsb();

// What a person reads about it: the devices denied, and when no card opened,
// which pairs were looked for and how to set them. Empty when all is well.
std::string explainUsb(const UsbDiagnosis &diagnosis, bool anyCard);

} // namespace kvd::tool
