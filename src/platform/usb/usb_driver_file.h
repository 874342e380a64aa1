// One open card on the USB card backend: what the card's driver does with the eight
// driver requests, made with libusb on the card's device file.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

#include <libusb.h>

namespace kvd::platform::usb {

class DriverFile {
public:
    DriverFile(libusb_device_handle *handle, int32_t logicalNumber);
    ~DriverFile();
    DriverFile(const DriverFile &) = delete;
    DriverFile &operator=(const DriverFile &) = delete;

    // One driver request; the truth value the Windows driver would give.
    int32_t request(uint32_t code, void *input, uint32_t inputSize, void *output, uint32_t outputSize,
                    uint32_t *bytesReturned);

    // Ends the requests waiting on the file now: their transfers are
    // cancelled and they fail. Later requests are not affected.
    void cancel();
    // Ends the requests waiting on the file (their transfers are cancelled)
    // and returns when none runs; later requests fail at once.
    void shut();

private:
    bool enter();
    void leave();
    bool bulk(bool read, uint32_t pipe, void *data, uint32_t size, uint32_t *bytesReturned);
    int submitLocked(libusb_transfer *transfer);
    void forget(libusb_transfer *transfer);
    bool endpointOf(uint32_t pipe, bool read, uint8_t *endpoint);
    bool claimLocked(uint8_t interfaceNumber);
    bool selectSetting(uint8_t interfaceNumber, uint8_t alternateSetting);
    bool resetPort();
    void noteFailure(int libusbError);

    libusb_device_handle *const handle_;
    const int32_t logicalNumber_;

    std::mutex mutex_;
    std::condition_variable idle_;      // the last running request left
    int32_t running_ = 0;               // requests inside request()
    bool shut_ = false;                 // closing: no new request, transfers cancelled
    std::atomic<bool> gone_{false};     // the card was unplugged
    std::vector<libusb_transfer *> inFlight_;
    int32_t claimed_ = -1;              // the interface this file claimed, -1 none
    uint8_t interface_ = 0;             // the selected interface and setting
    uint8_t alternateSetting_ = 0;
    std::vector<uint8_t> endpoints_;    // pipe n: endpoints_[n]
    bool endpointsKnown_ = false;
};

} // namespace kvd::platform::usb
