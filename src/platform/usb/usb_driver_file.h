// One open card on the USB card backend: what the card's driver does with the
// eight driver requests, made on the card's shared usbfs file (usb_card_file.h).
#pragma once

#include <array>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/usb/usb_card_file.h"

namespace kvd::platform::usb {

class DriverFile {
public:
    DriverFile(std::shared_ptr<CardFile> card, int32_t logicalNumber);
    DriverFile(const DriverFile &) = delete;
    DriverFile &operator=(const DriverFile &) = delete;

    // One driver request; the truth value the Windows driver would give.
    int32_t request(uint32_t code, void *input, uint32_t inputSize, void *output, uint32_t outputSize,
                    uint32_t *bytesReturned);

    // Ends the requests waiting on the file now: their URBs are taken back
    // and they fail. Later requests are not affected.
    void cancel();
    // Ends the requests waiting on the file and returns when none runs;
    // later requests fail at once.
    void shut();

private:
    // A transfer of this file, kept for the next request once it is back.
    struct Slot {
        bool taken = false;
        bool inFlight = false;
        Transfer transfer; // last: it ends in the URB's empty packet table
    };
    // One IN pipe: reads on it take turns; the bytes of the last packet that
    // a read did not ask for wait here for the next read.
    struct InPipe {
        std::mutex turn;
        std::vector<uint8_t> packet;
        uint32_t keptFrom = 0; // guarded by mutex_, like kept and epoch
        uint32_t kept = 0;
        uint64_t epoch = 0;    // counts the discards of what is kept
    };
    static constexpr uint32_t kMaxPipes = 32;

    bool enter(uint64_t *generation);
    void leave();
    bool read(uint32_t pipe, uint8_t *data, uint32_t size, uint32_t *bytesReturned, uint64_t generation);
    bool write(uint32_t pipe, const uint8_t *data, uint32_t size, uint32_t *bytesReturned, uint64_t generation);
    uint32_t takeKept(InPipe &in, uint8_t *data, uint32_t size, uint64_t *epoch);
    void keep(InPipe &in, uint32_t from, uint32_t count, uint64_t epoch);
    void discardKeptLocked();
    bool readPackets(const Endpoint &endpoint, uint8_t *data, uint32_t size, uint32_t *moved, uint64_t generation);
    bool transfer(const Endpoint &endpoint, uint8_t *data, uint32_t size, uint32_t *moved, uint64_t generation);
    int finish(const Endpoint &endpoint, Slot *slot, uint32_t *moved);
    Slot *submit(const Endpoint &endpoint, uint8_t *data, uint32_t size, uint64_t generation);
    void endAllLocked();

    const std::shared_ptr<CardFile> card_;
    const int32_t logicalNumber_;

    std::mutex mutex_;
    std::condition_variable idle_;      // the last running request left
    int32_t running_ = 0;               // requests inside request()
    bool shut_ = false;                 // closing: no new request, transfers taken back
    uint64_t generation_ = 0;           // counts the cancels: a request started before one ends
    std::vector<std::unique_ptr<Slot>> slots_;
    std::array<InPipe, kMaxPipes> inPipes_;
};

} // namespace kvd::platform::usb
