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

void UsbTestbed::plug(uint32_t port, uint16_t vendor, uint16_t product, std::unique_ptr<CardLink> card) {
    unplug(port);
    const uint32_t address = takeAddress();
    const std::string name = formatted("%u-%u", kBus, port);
    const std::string busText = formatted("%03u", kBus), addressText = formatted("%03u", address);
    const std::string deviceFile = formatted("/dev/bus/usb/%03u/%03u", kBus, address);
    const std::string vendorText = formatted("%04x\n", vendor), productText = formatted("%04x\n", product);
    const std::string productProperty = formatted("%x/%x/100", vendor, product);
    const std::string portText = formatted("%u\n", port), addressNumber = formatted("%u\n", address);
    const std::string minorText = formatted("%u", address);
    gchar *sysfs = umockdev_testbed_add_device(
        testbed_, "usb", name.c_str(), nullptr,
        // attributes
        "busnum", "1\n", "devnum", addressNumber.c_str(), "devpath", portText.c_str(), "speed", "480\n",
        "idVendor", vendorText.c_str(), "idProduct", productText.c_str(), "bConfigurationValue", "1\n",
        "bNumConfigurations", "1\n", nullptr,
        // properties
        "DEVNAME", deviceFile.c_str(), "DEVTYPE", "usb_device", "BUSNUM", busText.c_str(), "DEVNUM",
        addressText.c_str(), "PRODUCT", productProperty.c_str(), "MAJOR", "189", "MINOR", minorText.c_str(),
        nullptr);
    if (sysfs == nullptr)
        throw std::runtime_error("umockdev could not add the card " + name);
    std::vector<uint8_t> descriptors = cardDescriptors(vendor, product);
    umockdev_testbed_set_attribute_binary(testbed_, sysfs, "descriptors", descriptors.data(), int(descriptors.size()));

    makeDeviceFile(deviceFile, descriptors);

    Plugged plugged{sysfs, deviceFile, std::make_unique<UrbEngine>(std::move(card)), nullptr};
    g_free(sysfs);
    plugged.handler = newUsbCardHandler(plugged.engine.get());
    GError *error = nullptr;
    if (!umockdev_testbed_attach_ioctl(testbed_, deviceFile.c_str(), plugged.handler, &error)) {
        const std::string why = error ? error->message : "unknown error";
        g_clear_error(&error);
        g_object_unref(plugged.handler);
        throw std::runtime_error("umockdev could not serve " + deviceFile + ": " + why);
    }
    cards_[port] = std::move(plugged);
}

// The device file in the bed's /dev; reading it gives the descriptors, as usbfs does.
void UsbTestbed::makeDeviceFile(const std::string &deviceFile, const std::vector<uint8_t> &descriptors) {
    const std::string path = rootDirectory() + deviceFile;
    gchar *folder = g_path_get_dirname(path.c_str());
    g_mkdir_with_parents(folder, 0755);
    g_free(folder);
    g_file_set_contents(path.c_str(), reinterpret_cast<const gchar *>(descriptors.data()), gssize(descriptors.size()),
                        nullptr);
    ::chmod(path.c_str(), 0666);
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
    umockdev_testbed_remove_device(testbed_, card.sysfsPath.c_str());
    unplugged_.push_back(std::move(card));
    cards_.erase(found);
}

void UsbTestbed::unplugAll() {
    while (!cards_.empty())
        unplug(cards_.begin()->first);
}

void UsbTestbed::denyAccess(uint32_t port) {
    const auto found = cards_.find(port);
    if (found != cards_.end())
        ::chmod((rootDirectory() + found->second.deviceFile).c_str(), 0);
}

} // namespace kvd::usbsim
