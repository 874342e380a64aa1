// Why no card shows up on USB: the vendor:product pairs the library looks
// for, and the devices that match but cannot be opened for lack of permission
// or because another program holds them.
#pragma once

#include <string>
#include <vector>

namespace kvd::tool {

// One matching USB device as this user sees it.
struct UsbDevice {
    std::string pair;            // "1209:0001"
    std::string place;           // "1209:0001 on bus 1, port 1 (/dev/bus/usb/001/002)"
    std::string file;            // "/dev/bus/usb/001/002"
    bool denied = false;         // this user may not open the device file
    bool busy = false;           // another program has claimed interface 0
    std::string interfaceDriver; // what holds interface 0: "" nothing, "usbfs" a program's claim, else a kernel driver
};

struct UsbDiagnosis {
    std::string pairs;                 // "1209:0001,1209:0002"; empty when none is set
    bool pairsFromEnvironment = false; // KVD4093_USB_IDS, else the library's built-in list
    std::vector<UsbDevice> devices;    // every matching device, in the order of the logical numbers
};

UsbDiagnosis diagnoseUsb();

// "1209:0001" for each pair of "1209:0001,04B4:8613" the library would take,
// in lower case, each once in the order first named; none of a malformed
// list, as the library takes none.
std::vector<std::string> usbPairs(const std::string &pairs);

// The other programs that have the device file open: "kvd4093 (process 1234)";
// not this one, nor those that started it.
// Processes of other users are not seen unless this user may look at them.
std::vector<std::string> programsUsing(const std::string &deviceFile);

// What a person reads about it: the devices denied, and when no card opened,
// which pairs were looked for and how to set them. Empty when all is well.
std::string explainUsb(const UsbDiagnosis &diagnosis, bool anyCard);

} // namespace kvd::tool
