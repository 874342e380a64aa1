// One card's usbfs device file, shared by every driver file of the process
// that has the card open: opened once, its interface claimed once, both
// given up with the last driver file. Requests move data in URBs submitted
// on it; whichever waiting thread polls the file reaps what completed, for
// all of them. libusb finds the cards and reads their descriptors; the URBs
// are the backend's own, kept by each driver file from request to request,
// so that a request allocates nothing (libusb allocates with every transfer
// it submits).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include <libusb.h>
#include <linux/usbdevice_fs.h>

namespace kvd::platform::usb {

struct Endpoint {
    uint8_t address = 0;
    uint16_t maxPacket = 0; // wMaxPacketSize
};

// A URB and whether it has come back. `done` is the card file's to change.
// Bulk URBs use none of the trailing isochronous packet table.
struct Transfer {
    bool done = true;
    usbdevfs_urb urb{};
};

class CardFile {
public:
    // The card's file for this process: the one already open, or opened now
    // with its interface 0 claimed. nullptr with *status set to the errno
    // value when that fails: EBUSY when another program holds the card.
    static std::shared_ptr<CardFile> open(libusb_device *device, uint32_t *status);
    ~CardFile();
    CardFile(const CardFile &) = delete;
    CardFile &operator=(const CardFile &) = delete;

    // The card was unplugged: every request fails.
    bool gone() const;

    // Pipe n is the n-th endpoint of the selected interface setting, in
    // descriptor order; false when there is none or it runs the other way.
    bool endpoint(uint32_t pipe, bool in, Endpoint *found);
    // Selects an interface setting for every driver file of the card.
    bool selectSetting(uint8_t interfaceNumber, uint8_t alternateSetting);
    bool resetPort();
    void clearHalt(uint8_t endpoint);

    // Submits a URB of the transfer; 0 or the errno value.
    int submit(Transfer &transfer);
    // Takes a URB back; it still comes back through await.
    void discard(Transfer &transfer);
    // Returns when the transfer's URB has come back, or the card is gone.
    void await(Transfer &transfer);

private:
    CardFile(libusb_device *device, int fd);
    bool claimLocked(uint8_t interfaceNumber, uint32_t *status);
    void releaseAllLocked();
    void waitForCompletions();
    void reapLocked();
    void noteError(int error);

    libusb_device *const device_;
    const int fd_;
    const uint8_t bus_;
    const uint8_t address_;

    std::mutex settingMutex_;   // claims, the setting and its endpoints
    uint32_t claimed_ = 0;      // one bit per claimed interface
    std::vector<Endpoint> endpoints_;

    std::mutex mutex_;          // the transfers' done flags, the reaper's role
    std::condition_variable reaped_;
    bool reaping_ = false;      // a thread polls the file and reaps for all
    std::atomic<bool> gone_{false};
};

} // namespace kvd::platform::usb
