// One virtual card: the driver's side of the requests (buffers, recording,
// rules, held and waiting reads) around the card's firmware.
#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>

#include "platform/virtual/driver_request.h"
#include "card_model/firmware.h"
#include "platform/virtual/request_rules.h"
#include "platform/virtual/shared_clock_line.h"
#include "platform/virtual/virtual_card.h"

namespace kvd::vcard {

// One open driver file of a card; the card's lock guards it.
struct OpenFile {
    uint64_t cancels = 0; // a request waiting ends when this changes
};

class VirtualCard final : public Card, public LineListener {
public:
    // The card's clock connector is on `line`, which the cards installed with it share.
    VirtualCard(int32_t logicalNumber, uint8_t physicalId, const Behaviour &behaviour,
                std::shared_ptr<SharedClockLine> line);

    // Answers one driver request made on an open file as the card's driver
    // would and returns the request's truth value; deviceCount is the number
    // of cards installed now (read by the identity requests only).
    int32_t request(const DriverRequest &request, const OpenFile &file, int32_t deviceCount);
    void fileOpened();
    // Ends the requests waiting on the file now, with failure.
    void cancel(OpenFile &file);
    // Closes one driver file; false (and the file stays open) under failClose.
    bool closeFile();
    // The card is gone: from now on its requests fail and blocked reads return.
    void detach();
    void lineChanged() override;

    int32_t logicalNumber() const override { return logicalNumber_; }
    uint8_t physicalId() const override { return physicalId_; }
    std::vector<Request> requests() const override;
    void clearRequests() override;
    void setRecording(bool on) override;
    void failRequest(RequestMatch match, uint32_t nth) override;
    void setRequestResult(RequestMatch match, int32_t result) override;
    void shortenReturns(RequestMatch match, uint32_t maxBytes) override;
    void clearRules() override;
    void holdReads() override;
    void releaseReads() override;
    void ignoreCancels(bool ignore) override;
    bool waitForHeldRead(uint32_t timeoutMs) override;
    bool waitForPacedRead(uint32_t timeoutMs) override;
    void setStatusByte(uint32_t index, uint8_t value) override;
    void setBehaviour(const Behaviour &behaviour) override;
    void failClose(bool fail) override;
    void setStartWait(uint32_t milliseconds) override;
    uint64_t samplesLost() const override;
    int32_t clockOffsetPpm() const override;
    bool running() const override;
    uint16_t doLines() const override;
    uint8_t triggerLevel() const override;
    int32_t daValue(uint32_t channel) const override;
    int32_t openFiles() const override;

private:
    using Lock = std::unique_lock<std::mutex>;

    // Does what a well-formed request asks; the bytes it moved, or nothing when it fails.
    // A request in progress: the file it came on, and the cancels counted
    // when it arrived.
    struct Caller {
        const OpenFile &file;
        uint64_t cancels;
    };
    bool cancelled(const Caller &caller) const { return caller.file.cancels != caller.cancels; }
    // The caller's wait is over: the card is gone or the request was cancelled.
    bool ended(const Caller &caller) const { return detached_ || cancelled(caller); }

    int32_t answer(const DriverRequest &request, const OpenFile &file, int32_t deviceCount);
    std::optional<uint32_t> perform(Lock &lock, const DriverRequest &request, const Caller &caller,
                                    uint32_t maxBytes, int32_t deviceCount);
    void takePacket(int32_t pipe, const uint8_t *data, uint32_t size);
    std::optional<uint32_t> readSamples(Lock &lock, const Caller &caller, uint8_t *out, uint32_t size);
    void waitWhileHeld(Lock &lock, const Caller &caller);
    bool waitForStart(Lock &lock, const Caller &caller);
    std::optional<uint32_t> waitForSamples(Lock &lock, const Caller &caller, uint32_t size);

    const int32_t logicalNumber_;
    const uint8_t physicalId_;

    const std::shared_ptr<SharedClockLine> line_; // before the firmware, which is wired to it
    mutable std::mutex mutex_;
    std::condition_variable changed_; // holds released, runs started, the card gone, reads held
    Firmware firmware_;
    std::unique_ptr<uint8_t[]> period_; // the firmware's copy of one period of samples
    RequestRules rules_;
    std::vector<Request> requests_;
    uint64_t requestsCleared_ = 0; // tells a late completion that its entry is gone
    bool holding_ = false;
    bool ignoringCancels_ = false; // held reads wait through cancels
    uint64_t releases_ = 0;
    int32_t heldReads_ = 0;
    int32_t pacedReads_ = 0; // reads waiting for their samples
    std::chrono::milliseconds startWait_{200};
    bool failClose_ = false;
    bool recording_ = true;
    bool paced_ = false;
    int32_t openFiles_ = 0;
    bool detached_ = false;
};

} // namespace kvd::vcard
