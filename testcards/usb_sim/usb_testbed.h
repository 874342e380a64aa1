// A umockdev test bed with emulated cards on USB bus 1: sysfs attributes and
// descriptors that libusb reads, and a device file whose usbfs requests a
// UrbEngine serves. Creating it points this process's UMOCKDEV_DIR at the bed;
// programs run with umockdev's preload library (kPreloadLibrary) see it.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <umockdev.h>

#include "card_link.h"
#include "pollable_node.h"
#include "urb_engine.h"

namespace kvd::usbsim {

constexpr char kPreloadLibrary[] = "libumockdev-preload.so.0";

class UsbTestbed {
public:
    UsbTestbed();
    ~UsbTestbed();
    UsbTestbed(const UsbTestbed &) = delete;
    UsbTestbed &operator=(const UsbTestbed &) = delete;

    // Plugs a card into port `port` (1 to 127) of bus 1; its requests go to
    // `card`. A card still in the port is pulled out first, so plugging again
    // is a replug: the card comes back at a new address.
    void plug(uint32_t port, uint16_t vendor, uint16_t product, std::unique_ptr<CardLink> card);
    // Pulls the card out: its URBs end, its device file fails, it leaves sysfs.
    void unplug(uint32_t port);
    void unplugAll();
    // Takes every permission away from the card's device file.
    void denyAccess(uint32_t port);
    // The usbfs side of the card in a port, for its faults (stall, NAK, slow).
    UrbEngine &engine(uint32_t port);
    // The card's device file, "/dev/bus/usb/001/002".
    std::string deviceFile(uint32_t port) const;

    std::string rootDirectory() const;

private:
    struct Plugged {
        std::string sysfsPath;
        std::string deviceFile;
        std::unique_ptr<PollableNode> node; // outlives the engine, which signals through it
        std::unique_ptr<UrbEngine> engine;
        UMockdevIoctlBase *handler = nullptr;
    };

    void forget(Plugged &card);
    uint32_t takeAddress();
    static std::string description(const std::string &name, uint32_t address, uint16_t vendor, uint16_t product);

    UMockdevTestbed *testbed_;
    std::map<uint32_t, Plugged> cards_;
    // Cards pulled out: a program may still hold their device files, whose
    // requests must keep failing, so their engines live as long as the bed.
    std::vector<Plugged> unplugged_;
    uint32_t nextAddress_ = 2; // address 1 is the root hub's
};

} // namespace kvd::usbsim
