#include <algorithm>

#include "card_model/driver_protocol.h"
#include "platform/virtual/virtual_card_impl.h"

namespace kvd::vcard {
namespace {

// The identity requests answer a 32-bit number in the input buffer.
uint32_t answerNumber(void *input, int32_t number, uint32_t maxBytes) {
    const uint32_t count = std::min<uint32_t>(4, maxBytes);
    auto *bytes = static_cast<uint8_t *>(input);
    for (uint32_t i = 0; i < count; ++i)
        bytes[i] = static_cast<uint8_t>(static_cast<uint32_t>(number) >> (8 * i));
    return count;
}

} // namespace

VirtualCard::VirtualCard(int32_t logicalNumber, uint8_t physicalId, const Behaviour &behaviour,
                         std::shared_ptr<SharedClockLine> line)
    : logicalNumber_(logicalNumber), physicalId_(physicalId), line_(std::move(line)), firmware_(physicalId),
      period_(new uint8_t[SampleStream::kMaxPeriodBytes]) {
    firmware_.setPeriodStorage(period_.get(), SampleStream::kMaxPeriodBytes);
    firmware_.wireClockLine(line_.get());
    setBehaviour(behaviour);
}

// A request that changed the clock line (a start or stop of the card driving
// it, ticks read from it) wakes the cards waiting for ticks once its own lock
// is released: a card never takes another card's lock while holding its own.
int32_t VirtualCard::request(const DriverRequest &request, const OpenFile &file, int32_t deviceCount) {
    const uint64_t lineBefore = line_->changes();
    const int32_t result = answer(request, file, deviceCount);
    if (line_->changes() != lineBefore)
        line_->wakeListeners();
    return result;
}

void VirtualCard::lineChanged() {
    Lock lock(mutex_);
    changed_.notify_all();
}

// The request is listed on arrival so that the list keeps the order in which
// requests reached the card, and completed in place when it returns.
int32_t VirtualCard::answer(const DriverRequest &request, const OpenFile &file, int32_t deviceCount) {
    Lock lock(mutex_);
    const Caller caller{file, file.cancels};
    const bool listed = recording_;
    const uint64_t listing = requestsCleared_;
    const size_t entry = requests_.size();
    if (listed)
        requests_.push_back(describe(request));
    const Verdict verdict = rules_.judge(request.code, pipeOf(request));

    std::optional<uint32_t> moved;
    if (!verdict.fail && !detached_ && wellFormed(request))
        moved = perform(lock, request, caller, verdict.maxBytes, deviceCount);
    const uint32_t returned = moved.value_or(0);
    const int32_t result = moved ? verdict.result : 0;

    if (request.bytesReturned != nullptr)
        *request.bytesReturned = returned;
    if (listed && listing == requestsCleared_) {
        requests_[entry].returned = returned;
        requests_[entry].result = result;
    }
    return result;
}

std::optional<uint32_t> VirtualCard::perform(Lock &lock, const DriverRequest &request, const Caller &caller,
                                             uint32_t maxBytes, int32_t deviceCount) {
    const int32_t pipe = pipeOf(request);
    auto *output = static_cast<uint8_t *>(request.output);
    const uint32_t size = std::min(request.outputSize, maxBytes);
    switch (request.code) {
    case protocol::kGetDeviceCount: return answerNumber(request.input, deviceCount, maxBytes);
    case protocol::kGetCurrentId: return answerNumber(request.input, logicalNumber_, maxBytes);
    case protocol::kBulkWrite:
        takePacket(pipe, output, request.outputSize);
        return size;
    case protocol::kBulkRead:
        if (pipe == static_cast<int32_t>(protocol::kPipeStatus)) {
            const uint32_t statusSize = std::min(size, protocol::kPacketSize);
            firmware_.readStatus(output, statusSize);
            return statusSize;
        }
        return readSamples(lock, caller, output, size);
    default: return 0u; // interface selection, reset, low files: nothing to move
    }
}

void VirtualCard::takePacket(int32_t pipe, const uint8_t *data, uint32_t size) {
    if (pipe == static_cast<int32_t>(protocol::kPipeAdCommand))
        firmware_.takeAdCommand(data, size);
    else
        firmware_.takeCommand(data, size);
    changed_.notify_all(); // a start may be awaited
}

std::optional<uint32_t> VirtualCard::readSamples(Lock &lock, const Caller &caller, uint8_t *out, uint32_t size) {
    waitWhileHeld(lock, caller);
    if (!waitForStart(lock, caller))
        return std::nullopt;
    // Unpaced, a card delivers at once whatever its clock, the received one too.
    if (paced_) {
        firmware_.loseOverflow(firmware_.now()); // what the memory could not hold since the last read
        const std::optional<uint32_t> available = waitForSamples(lock, caller, size);
        if (!available)
            return std::nullopt;
        size = *available;
    }
    firmware_.readSamples(out, size);
    return size;
}

// Blocks until the card has converted the samples a read asks for. A stop
// (or the card going away) ends the wait: the read then takes what was
// converted. A restart begins a new count at its own rate, so the stop's fast
// restart lets a waiting read finish. A cancelled read gets nothing.
std::optional<uint32_t> VirtualCard::waitForSamples(Lock &lock, const Caller &caller, uint32_t size) {
    const uint64_t wanted = (uint64_t(size) + 1) / 2;
    for (;;) {
        const uint64_t delivered = firmware_.samplesDelivered();
        const uint64_t converted = firmware_.samplesConverted(Firmware::Clock::now());
        if (cancelled(caller))
            return std::nullopt;
        if (converted >= delivered + wanted)
            return size;
        if (!firmware_.running() || detached_) {
            const uint64_t available = converted > delivered ? converted - delivered : 0;
            return static_cast<uint32_t>(std::min<uint64_t>(size, available * 2));
        }
        ++pacedReads_;
        changed_.notify_all();
        const Firmware::Clock::time_point ready = firmware_.whenConverted(delivered + wanted);
        if (ready == Firmware::Clock::time_point::max())
            changed_.wait(lock); // no ticks on their way: the line, a stop or a cancel wakes it
        else
            changed_.wait_until(lock, ready);
        --pacedReads_;
    }
}

// A read held now waits for the next release, whatever holds follow it.
void VirtualCard::waitWhileHeld(Lock &lock, const Caller &caller) {
    if (!holding_)
        return;
    const uint64_t release = releases_;
    ++heldReads_;
    changed_.notify_all();
    changed_.wait(lock, [&] { return releases_ != release || detached_ || (cancelled(caller) && !ignoringCancels_); });
    --heldReads_;
}

bool VirtualCard::waitForStart(Lock &lock, const Caller &caller) {
    if (!firmware_.running())
        changed_.wait_for(lock, startWait_, [&] { return firmware_.running() || ended(caller); });
    return firmware_.running() && !ended(caller);
}

void VirtualCard::fileOpened() {
    Lock lock(mutex_);
    ++openFiles_;
}

void VirtualCard::cancel(OpenFile &file) {
    Lock lock(mutex_);
    ++file.cancels;
    changed_.notify_all();
}

bool VirtualCard::closeFile() {
    Lock lock(mutex_);
    if (failClose_)
        return false;
    --openFiles_;
    return true;
}

void VirtualCard::detach() {
    Lock lock(mutex_);
    detached_ = true;
    changed_.notify_all();
}

std::vector<Request> VirtualCard::requests() const {
    Lock lock(mutex_);
    return requests_;
}

void VirtualCard::clearRequests() {
    Lock lock(mutex_);
    requests_.clear();
    ++requestsCleared_;
}

void VirtualCard::setRecording(bool on) {
    Lock lock(mutex_);
    recording_ = on;
}

void VirtualCard::failRequest(RequestMatch match, uint32_t nth) {
    Lock lock(mutex_);
    rules_.failRequest(match, nth);
}

void VirtualCard::setRequestResult(RequestMatch match, int32_t result) {
    Lock lock(mutex_);
    rules_.setResult(match, result);
}

void VirtualCard::shortenReturns(RequestMatch match, uint32_t maxBytes) {
    Lock lock(mutex_);
    rules_.shortenReturns(match, maxBytes);
}

void VirtualCard::clearRules() {
    Lock lock(mutex_);
    rules_.clear();
}

void VirtualCard::holdReads() {
    Lock lock(mutex_);
    holding_ = true;
}

void VirtualCard::releaseReads() {
    Lock lock(mutex_);
    holding_ = false;
    ++releases_;
    changed_.notify_all();
}

void VirtualCard::ignoreCancels(bool ignore) {
    Lock lock(mutex_);
    ignoringCancels_ = ignore;
    changed_.notify_all();
}

bool VirtualCard::waitForHeldRead(uint32_t timeoutMs) {
    Lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return heldReads_ > 0; });
}

bool VirtualCard::waitForPacedRead(uint32_t timeoutMs) {
    Lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return pacedReads_ > 0; });
}

void VirtualCard::setStatusByte(uint32_t index, uint8_t value) {
    Lock lock(mutex_);
    firmware_.overrideStatusByte(index, value);
}

void VirtualCard::setBehaviour(const Behaviour &behaviour) {
    Lock lock(mutex_);
    paced_ = behaviour.paced;
    firmware_.setPace(paced_ ? Pace::Clock : Pace::Reads);
    firmware_.setClockOffsetPpm(behaviour.clockOffsetPpm.value_or(defaultClockOffsetPpm(physicalId_)));
    recording_ = behaviour.recording;
    firmware_.setMemorySamples(behaviour.memorySamples);
    firmware_.setSignals(behaviour.signals, behaviour.noise);
}

void VirtualCard::failClose(bool fail) {
    Lock lock(mutex_);
    failClose_ = fail;
}

void VirtualCard::setStartWait(uint32_t milliseconds) {
    Lock lock(mutex_);
    startWait_ = std::chrono::milliseconds(milliseconds);
}

uint64_t VirtualCard::samplesLost() const {
    Lock lock(mutex_);
    return firmware_.samplesLost();
}

int32_t VirtualCard::clockOffsetPpm() const {
    Lock lock(mutex_);
    return firmware_.clockOffsetPpm();
}

bool VirtualCard::running() const {
    Lock lock(mutex_);
    return firmware_.running();
}

uint16_t VirtualCard::doLines() const {
    Lock lock(mutex_);
    return firmware_.doLines();
}

uint8_t VirtualCard::triggerLevel() const {
    Lock lock(mutex_);
    return firmware_.triggerLevel();
}

int32_t VirtualCard::daValue(uint32_t channel) const {
    Lock lock(mutex_);
    return firmware_.daValue(channel);
}

int32_t VirtualCard::openFiles() const {
    Lock lock(mutex_);
    return openFiles_;
}

} // namespace kvd::vcard
