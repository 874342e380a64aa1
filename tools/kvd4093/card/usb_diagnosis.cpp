// The USB devices the library would take for cards, looked at with libusb
// the way the library's USB backend looks at them.
#include "card/usb_diagnosis.h"

#include <cstdio>
#include <cstdlib>

#if defined(KVD4093_TOOL_HAVE_LIBUSB)
#include <libusb.h>
#endif

#ifndef KVD4093_TOOL_DEFAULT_USB_IDS
#define KVD4093_TOOL_DEFAULT_USB_IDS ""
#endif

namespace kvd::tool {
namespace {

constexpr char kIdsVariable[] = "KVD4093_USB_IDS";

#if defined(KVD4093_TOOL_HAVE_LIBUSB)
struct Pair {
    unsigned vendor, product;
};

// "vvvv:pppp[,...]"; a malformed rest is ignored (the library says why).
std::vector<Pair> pairsOf(const std::string &text) {
    std::vector<Pair> pairs;
    const char *cursor = text.c_str();
    Pair pair{};
    int used = 0;
    while (std::sscanf(cursor, " %4x:%4x %n", &pair.vendor, &pair.product, &used) == 2) {
        pairs.push_back(pair);
        cursor += used;
        if (*cursor != ',')
            break;
        ++cursor;
    }
    return pairs;
}

std::string placeOf(libusb_device *device, const libusb_device_descriptor &descriptor) {
    uint8_t ports[8];
    const int depth = libusb_get_port_numbers(device, ports, sizeof ports);
    std::string portPath;
    for (int i = 0; i < depth; ++i) {
        // Appended piece by piece: "." + std::to_string(...) makes g++ 12
        // warn of overlapping copies (-Wrestrict) in an optimised build.
        if (i > 0)
            portPath += '.';
        portPath += std::to_string(ports[i]);
    }
    char text[128];
    std::snprintf(text, sizeof text, "%04x:%04x on bus %u, port %s (/dev/bus/usb/%03u/%03u)", descriptor.idVendor,
                  descriptor.idProduct, libusb_get_bus_number(device), portPath.c_str(),
                  libusb_get_bus_number(device), libusb_get_device_address(device));
    return text;
}

void lookAtDevices(UsbDiagnosis &diagnosis) {
    const std::vector<Pair> pairs = pairsOf(diagnosis.pairs);
    libusb_context *usb = nullptr;
    if (pairs.empty() || libusb_init(&usb) != 0)
        return;
    libusb_device **list = nullptr;
    const ssize_t count = libusb_get_device_list(usb, &list);
    for (ssize_t i = 0; i < count; ++i) {
        libusb_device_descriptor descriptor{};
        if (libusb_get_device_descriptor(list[i], &descriptor) != 0)
            continue;
        bool matches = false;
        for (const Pair &pair : pairs)
            matches = matches || (pair.vendor == descriptor.idVendor && pair.product == descriptor.idProduct);
        if (!matches)
            continue;
        ++diagnosis.present;
        libusb_device_handle *handle = nullptr;
        const int opened = libusb_open(list[i], &handle);
        if (opened == LIBUSB_ERROR_ACCESS)
            diagnosis.denied.push_back(placeOf(list[i], descriptor));
        if (opened != 0)
            continue;
        // The library claims the card's interface 0; another program holds it when that fails so.
        if (libusb_claim_interface(handle, 0) == LIBUSB_ERROR_BUSY)
            diagnosis.busy.push_back(placeOf(list[i], descriptor));
        else
            libusb_release_interface(handle, 0);
        libusb_close(handle);
    }
    if (count >= 0)
        libusb_free_device_list(list, 1);
    libusb_exit(usb);
}
#else
void lookAtDevices(UsbDiagnosis &) {}
#endif

} // namespace

UsbDiagnosis diagnoseUsb() {
    UsbDiagnosis diagnosis;
    const char *value = std::getenv(kIdsVariable);
    diagnosis.pairsFromEnvironment = value != nullptr;
    diagnosis.pairs = value ? value : KVD4093_TOOL_DEFAULT_USB_IDS;
    lookAtDevices(diagnosis);
    return diagnosis;
}

std::string explainUsb(const UsbDiagnosis &diagnosis, bool anyCard) {
    std::string text;
    for (const std::string &device : diagnosis.busy)
        text += "USB device " + device + ": in use by another program.\n";
    for (const std::string &device : diagnosis.denied)
        text += "USB device " + device + ": permission denied.\n";
    if (!diagnosis.denied.empty())
        text += "Install the udev rule 70-kvd4093.rules (cmake --install puts it in lib/udev/rules.d/),\n"
                "reload the rules with \"udevadm control --reload\" and plug the card in again.\n";
    if (anyCard)
        return text;
    if (diagnosis.pairs.empty())
        return text + "No USB vendor:product pair is set for the card. Set KVD4093_USB_IDS to the\n"
                      "card's pair as lsusb shows it (hex, e.g. KVD4093_USB_IDS=1209:0001), or use\n"
                      "virtual cards with --virtual or KVD4093_VIRTUAL_CARDS.\n";
    if (diagnosis.present == 0)
        return text + "No USB device " + diagnosis.pairs + " is present (looked for the pairs of " +
               (diagnosis.pairsFromEnvironment ? "KVD4093_USB_IDS" : "the library's built-in list") +
               "). Set KVD4093_USB_IDS to the card's vendor:product pair as lsusb shows it.\n";
    return text;
}

} // namespace kvd::tool
