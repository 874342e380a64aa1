// The USB card backend for the tests of virtual cards: with KVD4093TESTS_USB_BACKEND=1
// (and umockdev's preload library in the process) the installed virtual
// cards stand behind emulated USB devices, and the library reaches them
// through libusb and its USB backend instead of the virtual backend. The same
// tests then check that both card backends behave alike.
#pragma once

#include <cstdint>
#include <string>

namespace kvd::testing::usb_backend {

constexpr char kSwitch[] = "KVD4093TESTS_USB_BACKEND";

// Whether this run uses the USB card backend.
bool active();

// Puts an emulated USB card in front of every virtual card installed now and
// makes the USB backend the process's card backend; returns when libusb sees them.
void attach();
// Pulls the emulated cards out; returns when libusb no longer sees them.
void detach();

// Pulls one card out while the library may be using it.
void unplug(int32_t logicalNumber);
// Takes every permission away from one card's device file.
void denyAccess(int32_t logicalNumber);
// Plugs a card pulled out (or still in) back in, at a new address; returns
// when libusb sees every card.
void replug(int32_t logicalNumber);
// The card's device file, "/dev/bus/usb/001/002".
std::string deviceFile(int32_t logicalNumber);

} // namespace kvd::testing::usb_backend
