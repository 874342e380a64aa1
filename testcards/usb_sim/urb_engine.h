// The emulated card's side of usbfs: URBs submitted on its endpoints run as
// driver requests on the card behind it, one worker thread per endpoint (an
// AD data read may wait in the card while commands go on), and wait to be
// reaped. Errors are errno values, as the kernel gives them.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "card_link.h"

namespace kvd::usbsim {

// One URB the card has finished, as the reaper hands it back.
// URBs are named by the device file that submitted them (its owner, one per
// open of the file) and their address in the submitting program.
struct UrbName {
    uint64_t owner = 0;
    uint64_t address = 0;
    auto operator<=>(const UrbName &) const = default;
};

struct FinishedUrb {
    UrbName id;
    int32_t status = 0;         // 0, or a negative errno (-ENOENT discarded, -EPIPE failed, -ESHUTDOWN gone)
    std::vector<uint8_t> data;  // the bytes an IN transfer read
    uint32_t actualLength = 0;
};

class UrbEngine {
public:
    explicit UrbEngine(std::unique_ptr<CardLink> card);
    ~UrbEngine();
    UrbEngine(const UrbEngine &) = delete;
    UrbEngine &operator=(const UrbEngine &) = delete;

    // Interface selection and port reset, passed on to the card.
    int setInterface(uint32_t interfaceNumber, uint32_t alternateSetting);
    int reset();
    // 0 while the card is plugged in, else ENODEV.
    int present() const;

    // Queues a bulk URB: OUT carries `data`, IN asks for `length` bytes.
    int submit(UrbName id, uint8_t endpoint, std::vector<uint8_t> data, uint32_t length);
    // Takes back a URB not yet finished; EINVAL when it has finished or is unknown.
    int discard(UrbName id);
    // The owner's oldest finished URB; nullopt with *error EAGAIN when none is
    // ready, ENODEV once the card is unplugged and every URB is reaped.
    std::optional<FinishedUrb> reap(uint64_t owner, int *error);
    // The owner closed its device file: its URBs are dropped.
    void forget(uint64_t owner);

    // The card is pulled out: URBs not finished end with -ESHUTDOWN, every
    // later request fails with ENODEV.
    void unplug();

private:
    struct Job {
        UrbName id;
        uint64_t ticket; // tells this submission from a later one at the same address
        uint8_t endpoint;
        std::vector<uint8_t> data;
        uint32_t length;
    };
    struct Worker {
        std::deque<Job> jobs;
        std::condition_variable wake;
        std::thread thread;
    };

    void work(uint8_t endpoint);
    FinishedUrb run(Job &job);
    bool stillPending(const Job &job) const;
    Worker &workerFor(uint8_t endpoint);
    int32_t cardRequest(uint32_t code, void *input, uint32_t inputSize);

    std::unique_ptr<CardLink> card_;
    mutable std::mutex mutex_;
    std::map<uint8_t, std::unique_ptr<Worker>> workers_;
    std::map<UrbName, uint64_t> pending_; // submitted, not finished: name -> ticket
    uint64_t tickets_ = 0;
    std::deque<FinishedUrb> finished_;
    bool unplugged_ = false;
    bool stopping_ = false;
};

} // namespace kvd::usbsim
