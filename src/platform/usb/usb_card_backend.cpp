// The card backend on Linux: the cards are the USB devices with a configured
// vendor:product pair, found with libusb-1.0 and numbered in the order of bus
// and port path. The driver files of one card in a process share its usbfs
// file and claimed interface; a card another program holds fails to open
// with EBUSY.
#include "platform/usb/usb_card_backend.h"

#include <cerrno>
#include <new>

#include "platform/usb/usb_devices.h"
#include "platform/usb/usb_driver_file.h"

namespace kvd::platform {
namespace usb {
namespace {

BackendFile *toBackend(DriverFile *file) { return reinterpret_cast<BackendFile *>(file); }
DriverFile *fromBackend(BackendFile *file) { return reinterpret_cast<DriverFile *>(file); }

BackendFile *openCard(int32_t logicalNumber, uint32_t *status) {
    MatchingDevices cards;
    if (cards.status() != 0) {
        *status = cards.status();
        return nullptr;
    }
    if (logicalNumber < 0 || static_cast<size_t>(logicalNumber) >= cards.devices().size()) {
        *status = ENODEV;
        return nullptr;
    }
    std::shared_ptr<CardFile> card = CardFile::open(cards.devices()[static_cast<size_t>(logicalNumber)], status);
    if (card == nullptr)
        return nullptr;
    auto *file = new (std::nothrow) DriverFile(std::move(card), logicalNumber);
    if (file == nullptr) {
        *status = ENOMEM;
        return nullptr;
    }
    *status = 0;
    return toBackend(file);
}

int32_t requestCard(BackendFile *file, uint32_t code, void *input, uint32_t inputSize, void *output,
                    uint32_t outputSize, uint32_t *bytesReturned) {
    if (file == nullptr || bytesReturned == nullptr)
        return 0;
    return fromBackend(file)->request(code, input, inputSize, output, outputSize, bytesReturned);
}

void cancelCard(BackendFile *file) {
    if (file != nullptr)
        fromBackend(file)->cancel();
}

bool closeCard(BackendFile *file) {
    if (file == nullptr)
        return false;
    DriverFile *driverFile = fromBackend(file);
    driverFile->shut();
    delete driverFile;
    return true;
}

const CardBackend kUsbBackend{"usb", &openCard, &requestCard, &cancelCard, &closeCard};

} // namespace

const CardBackend &usbCardBackend() { return kUsbBackend; }

} // namespace usb

const CardBackend &osCardBackend() { return usb::usbCardBackend(); }

} // namespace kvd::platform
