// The USB devices the library would take for cards, looked at with libusb
// the way the library's USB backend looks at them.
#include "card/usb_diagnosis.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>

#if defined(KVD4093_TOOL_HAVE_LIBUSB)
#include <fcntl.h>
#include <libusb.h>
#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <unistd.h>
#endif
#if defined(__linux__)
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "facts/usb_ids.h"

#ifndef KVD4093_TOOL_DEFAULT_USB_IDS
#define KVD4093_TOOL_DEFAULT_USB_IDS ""
#endif

namespace kvd::tool {
namespace {

using facts::UsbId;

// The pairs the library takes from the text: none when it is malformed.
std::vector<UsbId> pairsOf(const std::string &text) {
    std::vector<UsbId> pairs;
    std::string ignored; // the library says why
    facts::parseUsbIds(text.c_str(), &pairs, &ignored);
    return pairs;
}

std::string pairText(unsigned vendor, unsigned product) {
    char text[16];
    std::snprintf(text, sizeof text, "%04x:%04x", vendor, product);
    return text;
}

#if defined(KVD4093_TOOL_HAVE_LIBUSB)
std::string deviceFileOf(libusb_device *device) {
    char file[32];
    std::snprintf(file, sizeof file, "/dev/bus/usb/%03u/%03u", libusb_get_bus_number(device),
                  libusb_get_device_address(device));
    return file;
}

// The bus number, then the port path.
std::vector<int> portPathOf(libusb_device *device) {
    uint8_t ports[8];
    const int depth = libusb_get_port_numbers(device, ports, sizeof ports);
    std::vector<int> key{libusb_get_bus_number(device)};
    key.insert(key.end(), ports, ports + std::max(depth, 0));
    return key;
}

std::string placeOf(libusb_device *device, const libusb_device_descriptor &descriptor) {
    const std::vector<int> key = portPathOf(device);
    std::string portPath;
    for (size_t i = 1; i < key.size(); ++i) {
        if (i > 1)
            portPath += '.';
        portPath += std::to_string(key[i]);
    }
    return pairText(descriptor.idVendor, descriptor.idProduct) + " on bus " + std::to_string(key[0]) + ", port " +
           portPath + " (" + deviceFileOf(device) + ")";
}

// The driver the kernel has bound to the card's interface 0, as usbfs names
// it: "usbfs" when a program has claimed it; empty when none is bound.
std::string interfaceDriverOf(const std::string &file) {
    const int descriptor = ::open(file.c_str(), O_RDWR | O_CLOEXEC);
    if (descriptor < 0)
        return {};
    usbdevfs_getdriver driver{};
    driver.interface = 0;
    const bool bound = ::ioctl(descriptor, USBDEVFS_GETDRIVER, &driver) == 0;
    ::close(descriptor);
    return bound ? std::string(driver.driver) : std::string();
}

void lookAtDevices(UsbDiagnosis &diagnosis) {
    const std::vector<UsbId> pairs = pairsOf(diagnosis.pairs);
    libusb_context *usb = nullptr;
    if (pairs.empty() || libusb_init(&usb) != 0)
        return;
    libusb_device **list = nullptr;
    const ssize_t count = libusb_get_device_list(usb, &list);
    std::vector<std::pair<uint64_t, UsbDevice>> found; // by the library's logical order
    for (ssize_t i = 0; i < count; ++i) {
        libusb_device_descriptor descriptor{};
        if (libusb_get_device_descriptor(list[i], &descriptor) != 0)
            continue;
        bool matches = false;
        for (const UsbId &pair : pairs)
            matches = matches || (pair.vendor == descriptor.idVendor && pair.product == descriptor.idProduct);
        if (!matches)
            continue;
        UsbDevice device;
        device.pair = pairText(descriptor.idVendor, descriptor.idProduct);
        device.place = placeOf(list[i], descriptor);
        device.file = deviceFileOf(list[i]);
        libusb_device_handle *handle = nullptr;
        const int opened = libusb_open(list[i], &handle);
        if (opened == 0) {
            device.interfaceDriver = interfaceDriverOf(device.file);
            // The library claims the card's interface 0; a claim refused as
            // busy with no kernel driver bound means another program holds it.
            if (libusb_claim_interface(handle, 0) == LIBUSB_ERROR_BUSY)
                device.busy = device.interfaceDriver.empty() || device.interfaceDriver == "usbfs";
            else
                libusb_release_interface(handle, 0);
            libusb_close(handle);
        }
        device.denied = opened == LIBUSB_ERROR_ACCESS;
        uint8_t ports[8];
        const int depth = libusb_get_port_numbers(list[i], ports, sizeof ports);
        found.emplace_back(facts::usbPlace(libusb_get_bus_number(list[i]), ports, depth), device);
    }
    if (count >= 0)
        libusb_free_device_list(list, 1);
    libusb_exit(usb);
    std::sort(found.begin(), found.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
    for (const auto &[key, device] : found)
        diagnosis.devices.push_back(device);
}
#else
void lookAtDevices(UsbDiagnosis &) {}
#endif

#if defined(__linux__)
// Whether the process's open file `link` (/proc/PID/fd/N) is the file `target`.
bool sameFile(const std::filesystem::path &link, const struct stat &target) {
    struct stat opened {};
    return ::stat(link.c_str(), &opened) == 0 && opened.st_dev == target.st_dev && opened.st_ino == target.st_ino;
}

bool hasOpen(const std::filesystem::path &process, const struct stat &target) {
    std::error_code error;
    for (const auto &entry : std::filesystem::directory_iterator(process / "fd", error))
        if (sameFile(entry.path(), target))
            return true;
    return false;
}

// The process that started `pid`, from /proc/PID/stat ("pid (comm) state ppid ..."); 0 when unknown.
long parentOf(const std::string &pid) {
    std::string stat;
    std::getline(std::ifstream("/proc/" + pid + "/stat"), stat);
    const size_t name = stat.rfind(')');
    long parent = 0;
    char state = 0;
    if (name == std::string::npos || std::sscanf(stat.c_str() + name + 1, " %c %ld", &state, &parent) != 2)
        return 0;
    return parent;
}

// This process and those that started it: a shell or an emulator that runs
// the tool keeps the device file open without holding the card from it.
std::set<std::string> selfAndAncestors() {
    std::set<std::string> pids;
    for (long pid = ::getpid(); pid > 1 && pids.insert(std::to_string(pid)).second;)
        pid = parentOf(std::to_string(pid));
    return pids;
}

std::string commandOf(const std::filesystem::path &process) {
    std::string name;
    std::getline(std::ifstream(process / "comm"), name);
    return name.empty() ? "a program" : name;
}
#endif

} // namespace

std::vector<std::string> usbPairs(const std::string &pairs) {
    std::vector<std::string> texts;
    std::set<std::string> seen;
    for (const UsbId &pair : pairsOf(pairs))
        if (const std::string text = pairText(pair.vendor, pair.product); seen.insert(text).second)
            texts.push_back(text);
    return texts;
}

std::vector<std::string> programsUsing(const std::string &deviceFile) {
    std::vector<std::string> programs;
#if defined(__linux__)
    struct stat target {};
    if (::stat(deviceFile.c_str(), &target) != 0)
        return programs;
    const std::set<std::string> ours = selfAndAncestors();
    std::error_code error;
    for (const auto &process : std::filesystem::directory_iterator("/proc", error)) {
        const std::string pid = process.path().filename().string();
        if (ours.count(pid) != 0 || pid.find_first_not_of("0123456789") != std::string::npos)
            continue;
        if (hasOpen(process.path(), target))
            programs.push_back(commandOf(process.path()) + " (process " + pid + ")");
    }
#else
    (void)deviceFile;
#endif
    return programs;
}

UsbDiagnosis diagnoseUsb() {
    UsbDiagnosis diagnosis;
    const char *value = std::getenv(facts::kUsbIdsVariable);
    diagnosis.pairsFromEnvironment = value != nullptr;
    diagnosis.pairs = value ? value : KVD4093_TOOL_DEFAULT_USB_IDS;
    lookAtDevices(diagnosis);
    return diagnosis;
}

std::string explainUsb(const UsbDiagnosis &diagnosis, bool anyCard) {
    std::string text;
    bool anyDenied = false;
    for (const UsbDevice &device : diagnosis.devices)
        if (device.busy)
            text += "USB device " + device.place + ": in use by another program.\n";
    for (const UsbDevice &device : diagnosis.devices)
        if (device.denied) {
            text += "USB device " + device.place + ": permission denied.\n";
            anyDenied = true;
        }
    if (anyDenied)
        text += "Install the udev rule 70-kvd4093.rules (cmake --install puts it in lib/udev/rules.d/),\n"
                "reload the rules with \"udevadm control --reload\" and plug the card in again.\n";
    if (anyCard)
        return text;
    if (diagnosis.pairs.empty())
        return text + "No USB vendor:product pair is set for the card. Set KVD4093_USB_IDS to the\n"
                      "card's pair as lsusb shows it (hex, e.g. KVD4093_USB_IDS=1209:0001), or use\n"
                      "virtual cards with --virtual or KVD4093_VIRTUAL_CARDS.\n";
    if (diagnosis.devices.empty())
        return text + "No USB device " + diagnosis.pairs + " is present (looked for the pairs of " +
               (diagnosis.pairsFromEnvironment ? "KVD4093_USB_IDS" : "the library's built-in list") +
               "). Set KVD4093_USB_IDS to the card's vendor:product pair as lsusb shows it.\n";
    return text;
}

} // namespace kvd::tool
