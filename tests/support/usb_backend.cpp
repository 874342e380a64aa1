#include "support/usb_backend.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>

#if defined(KVD4093_TESTS_HAVE_USB_BACKEND)
#include <chrono>
#include <thread>

#include <umockdev.h>

#include "card_descriptors.h"
#include "card_link.h"
#include "platform/platform.h"
#include "platform/usb/usb_card_backend.h"
#include "platform/usb/usb_devices.h"
#include "facts/usb_ids.h"
#include "platform/virtual/virtual_card.h"
#include "usb_testbed.h"
#endif

namespace kvd::testing::usb_backend {

bool active() {
    const char *value = std::getenv(kSwitch);
    return value != nullptr && std::strcmp(value, "1") == 0;
}

#if defined(KVD4093_TESTS_HAVE_USB_BACKEND)
namespace {

usbsim::UsbTestbed &testbed() {
    static std::unique_ptr<usbsim::UsbTestbed> bed = [] {
        auto made = std::make_unique<usbsim::UsbTestbed>();
        // Asked only now: umockdev answers once, from whether /sys is the bed's.
        if (!umockdev_in_mock_environment())
            throw std::runtime_error(std::string(kSwitch) + "=1 needs umockdev's preload library (LD_PRELOAD=" +
                                     usbsim::kPreloadLibrary + ")");
        const std::string pair = facts::formatUsbIds({{usbsim::kVendorId, usbsim::kProductId}});
        setenv(facts::kUsbIdsVariable, pair.c_str(), 1);
        return made;
    }();
    return *bed;
}

// Ports count from 1; logical numbers from 0.
uint32_t portOf(int32_t logicalNumber) { return uint32_t(logicalNumber) + 1; }

void waitUntilLibusbSees(size_t count) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (platform::usb::MatchingDevices().devices().size() != count) {
        if (std::chrono::steady_clock::now() > deadline)
            throw std::runtime_error("libusb did not see the emulated cards change");
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

} // namespace

void attach() {
    usbsim::UsbTestbed &bed = testbed();
    bed.unplugAll();
    for (int32_t n = 0; n < vcard::cardCount(); ++n)
        bed.plug(portOf(n), usbsim::kVendorId, usbsim::kProductId, usbsim::virtualCardLink(n));
    platform::overrideCardBackend(&platform::usb::usbCardBackend());
    waitUntilLibusbSees(size_t(vcard::cardCount()));
}

void detach() {
    testbed().unplugAll();
    waitUntilLibusbSees(0);
}

void unplug(int32_t logicalNumber) { testbed().unplug(portOf(logicalNumber)); }
void denyAccess(int32_t logicalNumber) { testbed().denyAccess(portOf(logicalNumber)); }

void replug(int32_t logicalNumber) {
    testbed().plug(portOf(logicalNumber), usbsim::kVendorId, usbsim::kProductId,
                   usbsim::virtualCardLink(logicalNumber));
    waitUntilLibusbSees(size_t(vcard::cardCount()));
}

std::string deviceFile(int32_t logicalNumber) { return testbed().deviceFile(portOf(logicalNumber)); }

#else

void attach() { throw std::runtime_error("this build has no emulated USB card (umockdev missing)"); }
void detach() {}
void unplug(int32_t) { throw std::runtime_error("this build has no emulated USB card"); }
void denyAccess(int32_t) { throw std::runtime_error("this build has no emulated USB card"); }
void replug(int32_t) { throw std::runtime_error("this build has no emulated USB card"); }
std::string deviceFile(int32_t) { throw std::runtime_error("this build has no emulated USB card"); }

#endif

} // namespace kvd::testing::usb_backend
