// The emulated card's side of usbfs: URBs submitted on its endpoints run as
// driver requests on the card behind it, one worker thread per endpoint (an
// AD data read may wait in the card while commands go on), and wait to be
// reaped. It is as strict as the kernel with a high-speed device: bulk IN
// data comes in whole packets of the endpoint's wMaxPacketSize, so a URB
// whose buffer ends inside a packet completes with -EOVERFLOW; one device
// file at a time may claim the interface. Errors are errno values, as the
// kernel gives them.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
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
    int32_t status = 0;         // 0, or a negative errno (-ENOENT discarded, -EPIPE failed or halted,
                                // -EOVERFLOW a packet ran past the buffer, -ESHUTDOWN gone)
    std::vector<uint8_t> data;  // the bytes an IN transfer read
    uint32_t actualLength = 0;
};

class UrbEngine {
public:
    explicit UrbEngine(std::unique_ptr<CardLink> card);
    ~UrbEngine();
    UrbEngine(const UrbEngine &) = delete;
    UrbEngine &operator=(const UrbEngine &) = delete;

    // Called, with the engine's lock held, whenever a URB becomes ready to
    // reap (true) or none is left (false): what poll shows on the device file.
    using ReadyChanged = std::function<void(bool ready)>;
    void onReadyChanged(ReadyChanged readyChanged);

    // Claiming the interface, as the device file `owner` asks: EBUSY while
    // another device file holds it. Interface selection, URBs and halt
    // clearing claim it on the way, as the kernel does.
    int claim(uint64_t owner, uint32_t interfaceNumber);
    int release(uint64_t owner, uint32_t interfaceNumber);
    bool claimed(uint32_t interfaceNumber) const;
    // Interface selection and port reset, passed on to the card.
    int setInterface(uint64_t owner, uint32_t interfaceNumber, uint32_t alternateSetting);
    int reset();
    // Clears a halted endpoint.
    int clearHalt(uint64_t owner, uint8_t endpoint);
    // 0 while the card is plugged in, else ENODEV.
    int present() const;

    // Faults a program meets on a real card. The pipe's endpoint halts: its
    // URBs fail with -EPIPE until the halt is cleared.
    void stall(uint32_t pipe);
    // The card answers nothing for this long from now: URBs wait.
    void nak(std::chrono::milliseconds duration);
    // The card converts `factor` times slower than an AD set-up asks.
    void slow(double factor);

    // Queues a bulk URB: OUT carries `data`, IN asks for `length` bytes.
    int submit(UrbName id, uint8_t endpoint, std::vector<uint8_t> data, uint32_t length);
    // Takes back a URB not yet finished; EINVAL when it has finished or is unknown.
    int discard(UrbName id);
    // The owner's oldest finished URB; nullopt with *error EAGAIN when none is
    // ready, ENODEV once the card is unplugged and every URB is reaped.
    std::optional<FinishedUrb> reap(uint64_t owner, int *error);
    // The owner closed its device file: its URBs are dropped, its claim ends.
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
    FinishedUrb read(Job &job, uint32_t pipe);
    bool stillPending(const Job &job) const;
    bool claimLocked(uint64_t owner, uint32_t interfaceNumber);
    void finishLocked(FinishedUrb urb);
    void takenLocked();
    void waitWhileSilent(std::unique_lock<std::mutex> &lock, const Job &job);
    void slowDown(std::vector<uint8_t> &packet);
    Worker &workerFor(uint8_t endpoint);
    int32_t cardRequest(uint32_t code, void *input, uint32_t inputSize);

    std::unique_ptr<CardLink> card_;
    mutable std::mutex mutex_;
    std::map<uint8_t, std::unique_ptr<Worker>> workers_;
    std::map<UrbName, uint64_t> pending_; // submitted, not finished: name -> ticket
    uint64_t tickets_ = 0;
    std::deque<FinishedUrb> finished_;
    std::map<uint32_t, uint64_t> claims_;  // interface -> the device file holding it
    uint32_t halted_ = 0;                   // one bit per halted pipe
    std::chrono::steady_clock::time_point silentUntil_{};
    double slowFactor_ = 1;
    ReadyChanged readyChanged_;
    std::condition_variable faultChanged_;  // a silent card's URB is taken back, the card pulled out, the engine stopped
    bool unplugged_ = false;
    bool stopping_ = false;
};

} // namespace kvd::usbsim
