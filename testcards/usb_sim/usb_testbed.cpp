#include "usb_testbed.h"

#include <cstdio>
#include <stdexcept>
#include <vector>

#include <sys/stat.h>

#include "card_descriptors.h"
#include "usb_card_handler.h"

namespace kvd::usbsim {
namespace {

constexpr uint32_t kBus = 1;

std::string formatted(const char *format, uint32_t a, uint32_t b = 0) {
    char text[64];
    std::snprintf(text, sizeof text, format, a, b);
    return text;
}

} // namespace

UsbTestbed::UsbTestbed() : testbed_(umockdev_testbed_new()) {}

UsbTestbed::~UsbTestbed() {
    unplugAll();
    for (Plugged &card : unplugged_)
        forget(card);
    g_object_unref(testbed_);
}

void UsbTestbed::forget(Plugged &card) {
    umockdev_testbed_detach_ioctl(testbed_, card.deviceFile.c_str(), nullptr);
    g_object_unref(card.handler);
}

std::string UsbTestbed::rootDirectory() const {
    gchar *root = umockdev_testbed_get_root_dir(testbed_);
    std::string path = root;
    g_free(root);
    return path;
}

// The card as umockdev's device description gives it: sysfs attributes, the
// binary descriptors and the device file, all in place before the "add" event
// goes out, so that libusb never reads a card half made.
std::string UsbTestbed::description(const std::string &name, uint32_t address, uint16_t vendor, uint16_t product) {
    std::string hex;
    for (uint8_t byte : cardDescriptors(vendor, product))
        hex += formatted("%02X", byte);
    std::string text = "P: /devices/" + name + "\n";
    text += formatted("N: bus/usb/%03u/%03u=", kBus, address) + hex + "\n";
    text += formatted("E: DEVNAME=/dev/bus/usb/%03u/%03u\n", kBus, address);
    text += "E: DEVTYPE=usb_device\nE: SUBSYSTEM=usb\n";
    text += formatted("E: PRODUCT=%x/%x/100\n", vendor, product);
    text += formatted("E: BUSNUM=%03u\nE: DEVNUM=%03u\n", kBus, address);
    text += formatted("E: MAJOR=189\nE: MINOR=%u\n", address);
    text += formatted("A: busnum=%u\\n\nA: devnum=%u\\n\n", kBus, address);
    text += "A: devpath=" + name.substr(name.find('-') + 1) + "\\n\n";
    text += formatted("A: idVendor=%04x\\n\nA: idProduct=%04x\\n\n", vendor, product);
    text += "A: speed=480\\n\nA: bConfigurationValue=1\\n\nA: bNumConfigurations=1\\n\n";
    text += "H: descriptors=" + hex + "\n";
    return text;
}

void UsbTestbed::plug(uint32_t port, uint16_t vendor, uint16_t product, std::unique_ptr<CardLink> card) {
    unplug(port);
    const uint32_t address = takeAddress();
    const std::string name = formatted("%u-%u", kBus, port);
    const std::string deviceFile = formatted("/dev/bus/usb/%03u/%03u", kBus, address);

    // The device file answers before the card appears: a program that sees
    // the card at once must find its requests served.
    Plugged plugged{"/sys/devices/" + name, deviceFile, nullptr, std::make_unique<UrbEngine>(std::move(card)),
                    nullptr};
    plugged.handler = newUsbCardHandler(plugged.engine.get());
    GError *error = nullptr;
    if (!umockdev_testbed_attach_ioctl(testbed_, deviceFile.c_str(), plugged.handler, &error) ||
        !umockdev_testbed_add_from_string(testbed_, description(name, address, vendor, product).c_str(), &error)) {
        const std::string why = error ? error->message : "unknown error";
        g_clear_error(&error);
        umockdev_testbed_detach_ioctl(testbed_, deviceFile.c_str(), nullptr);
        g_object_unref(plugged.handler);
        throw std::runtime_error("umockdev could not plug in " + name + ": " + why);
    }
    // Anyone may use the card (until denyAccess): its device file, and the
    // socket through which the preload library reaches its handler.
    plugged.node = std::make_unique<PollableNode>(rootDirectory() + deviceFile);
    plugged.engine->onReadyChanged([node = plugged.node.get()](bool ready) { node->setReady(ready); });
    ::chmod((rootDirectory() + "/ioctl" + deviceFile).c_str(), 0666);
    cards_[port] = std::move(plugged);
}

// Addresses go round 2 to 127 as on a real bus; a card pulled out long ago
// gives its address (and its device file) up to the next card.
uint32_t UsbTestbed::takeAddress() {
    const uint32_t address = nextAddress_;
    nextAddress_ = nextAddress_ == 127 ? 2 : nextAddress_ + 1;
    const std::string deviceFile = formatted("/dev/bus/usb/%03u/%03u", kBus, address);
    for (auto card = unplugged_.begin(); card != unplugged_.end(); ++card) {
        if (card->deviceFile == deviceFile) {
            forget(*card);
            unplugged_.erase(card);
            break;
        }
    }
    return address;
}

void UsbTestbed::unplug(uint32_t port) {
    const auto found = cards_.find(port);
    if (found == cards_.end())
        return;
    Plugged &card = found->second;
    card.engine->unplug();
    // umockdev sends no "remove" event of its own before 0.18.4; it must go
    // out while the device's attributes still exist. Only a process under
    // the preload library (which sees the bed's /sys) can send events.
    if (umockdev_in_mock_environment())
        umockdev_testbed_uevent(testbed_, card.sysfsPath.c_str(), "remove");
    umockdev_testbed_remove_device(testbed_, card.sysfsPath.c_str());
    unplugged_.push_back(std::move(card));
    cards_.erase(found);
}

void UsbTestbed::unplugAll() {
    while (!cards_.empty())
        unplug(cards_.begin()->first);
}

UrbEngine &UsbTestbed::engine(uint32_t port) { return *cards_.at(port).engine; }

std::string UsbTestbed::deviceFile(uint32_t port) const { return cards_.at(port).deviceFile; }

void UsbTestbed::denyAccess(uint32_t port) {
    const auto found = cards_.find(port);
    if (found != cards_.end())
        ::chmod((rootDirectory() + found->second.deviceFile).c_str(), 0);
}

} // namespace kvd::usbsim
