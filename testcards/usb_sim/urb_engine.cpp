#include "urb_engine.h"

#include <algorithm>
#include <cerrno>

#include "card_descriptors.h"
#include "card_model/driver_protocol.h"

namespace kvd::usbsim {
namespace {

// The card's one interface: every endpoint belongs to it.
constexpr uint32_t kCardInterface = 0;

uint32_t wholePackets(uint32_t length) { return (length + kMaxPacket - 1) / kMaxPacket * kMaxPacket; }

} // namespace

UrbEngine::UrbEngine(std::unique_ptr<CardLink> card) : card_(std::move(card)) {}

UrbEngine::~UrbEngine() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        faultChanged_.notify_all();
        for (auto &[endpoint, worker] : workers_)
            worker->wake.notify_all();
    }
    for (auto &[endpoint, worker] : workers_)
        worker->thread.join();
}

void UrbEngine::onReadyChanged(ReadyChanged readyChanged) {
    std::lock_guard lock(mutex_);
    readyChanged_ = std::move(readyChanged);
    if (readyChanged_)
        readyChanged_(!finished_.empty() || unplugged_);
}

int UrbEngine::present() const {
    std::lock_guard lock(mutex_);
    return unplugged_ ? ENODEV : 0;
}

int32_t UrbEngine::cardRequest(uint32_t code, void *input, uint32_t inputSize) {
    uint32_t returned = 0;
    return card_->request(code, input, inputSize, nullptr, 0, &returned);
}

bool UrbEngine::claimLocked(uint64_t owner, uint32_t interfaceNumber) {
    const auto [holder, claimed] = claims_.try_emplace(interfaceNumber, owner);
    return claimed || holder->second == owner;
}

int UrbEngine::claim(uint64_t owner, uint32_t interfaceNumber) {
    std::lock_guard lock(mutex_);
    if (unplugged_)
        return ENODEV;
    if (interfaceNumber != kCardInterface)
        return ENOENT;
    return claimLocked(owner, interfaceNumber) ? 0 : EBUSY;
}

int UrbEngine::release(uint64_t owner, uint32_t interfaceNumber) {
    std::lock_guard lock(mutex_);
    if (unplugged_)
        return ENODEV;
    const auto holder = claims_.find(interfaceNumber);
    if (holder == claims_.end() || holder->second != owner)
        return EINVAL;
    claims_.erase(holder);
    return 0;
}

bool UrbEngine::claimed(uint32_t interfaceNumber) const {
    std::lock_guard lock(mutex_);
    return claims_.count(interfaceNumber) != 0;
}

int UrbEngine::setInterface(uint64_t owner, uint32_t interfaceNumber, uint32_t alternateSetting) {
    if (int error = claim(owner, interfaceNumber))
        return error;
    uint8_t setting[2] = {uint8_t(interfaceNumber), uint8_t(alternateSetting)};
    return cardRequest(protocol::kSetInterface, setting, sizeof setting) ? 0 : EIO;
}

int UrbEngine::reset() {
    if (int error = present())
        return error;
    return cardRequest(protocol::kUsbReset, nullptr, 0) ? 0 : EIO;
}

int UrbEngine::clearHalt(uint64_t owner, uint8_t endpoint) {
    if (int error = claim(owner, kCardInterface))
        return error;
    const int32_t pipe = pipeOfEndpoint(endpoint);
    if (pipe < 0)
        return ENOENT;
    std::lock_guard lock(mutex_);
    halted_ &= ~(1u << pipe);
    return 0;
}

void UrbEngine::stall(uint32_t pipe) {
    std::lock_guard lock(mutex_);
    halted_ |= 1u << pipe;
}

void UrbEngine::nak(std::chrono::milliseconds duration) {
    std::lock_guard lock(mutex_);
    silentUntil_ = std::chrono::steady_clock::now() + duration;
}

void UrbEngine::slow(double factor) {
    std::lock_guard lock(mutex_);
    slowFactor_ = std::max(1.0, factor);
}

UrbEngine::Worker &UrbEngine::workerFor(uint8_t endpoint) {
    std::unique_ptr<Worker> &worker = workers_[endpoint];
    if (!worker) {
        worker = std::make_unique<Worker>();
        worker->thread = std::thread([this, endpoint] { work(endpoint); });
    }
    return *worker;
}

int UrbEngine::submit(UrbName id, uint8_t endpoint, std::vector<uint8_t> data, uint32_t length) {
    std::lock_guard lock(mutex_);
    if (unplugged_)
        return ENODEV;
    if (pipeOfEndpoint(endpoint) < 0)
        return ENOENT;
    if (!claimLocked(id.owner, kCardInterface))
        return EBUSY;
    const uint64_t ticket = ++tickets_;
    pending_[id] = ticket;
    Worker &worker = workerFor(endpoint);
    worker.jobs.push_back(Job{id, ticket, endpoint, std::move(data), length});
    worker.wake.notify_one();
    return 0;
}

void UrbEngine::finishLocked(FinishedUrb urb) {
    finished_.push_back(std::move(urb));
    if (finished_.size() == 1 && readyChanged_ && !unplugged_)
        readyChanged_(true);
}

// A URB left the finished list: poll shows nothing once none is left.
void UrbEngine::takenLocked() {
    if (finished_.empty() && readyChanged_ && !unplugged_)
        readyChanged_(false);
}

int UrbEngine::discard(UrbName id) {
    std::lock_guard lock(mutex_);
    if (pending_.erase(id) == 0)
        return EINVAL;
    faultChanged_.notify_all();
    finishLocked(FinishedUrb{id, -ENOENT, {}, 0});
    return 0;
}

std::optional<FinishedUrb> UrbEngine::reap(uint64_t owner, int *error) {
    std::lock_guard lock(mutex_);
    const auto found =
        std::find_if(finished_.begin(), finished_.end(), [&](const FinishedUrb &urb) { return urb.id.owner == owner; });
    if (found == finished_.end()) {
        *error = unplugged_ ? ENODEV : EAGAIN;
        return std::nullopt;
    }
    FinishedUrb urb = std::move(*found);
    finished_.erase(found);
    takenLocked();
    return urb;
}

void UrbEngine::forget(uint64_t owner) {
    std::lock_guard lock(mutex_);
    std::erase_if(pending_, [&](const auto &entry) { return entry.first.owner == owner; });
    std::erase_if(finished_, [&](const FinishedUrb &urb) { return urb.id.owner == owner; });
    std::erase_if(claims_, [&](const auto &claim) { return claim.second == owner; });
    faultChanged_.notify_all();
    takenLocked();
}

void UrbEngine::unplug() {
    std::lock_guard lock(mutex_);
    for (const auto &[id, ticket] : pending_)
        finished_.push_back(FinishedUrb{id, -ESHUTDOWN, {}, 0});
    pending_.clear();
    unplugged_ = true;
    faultChanged_.notify_all();
    // A device file of a card that is gone always has something to say.
    if (readyChanged_)
        readyChanged_(true);
}

// An IN URB: the card sends whole packets until the buffer is full or a
// packet comes short. A packet that runs past the buffer's end is babble:
// the URB gets the bytes up to its end and -EOVERFLOW, the rest is lost.
FinishedUrb UrbEngine::read(Job &job, uint32_t pipe) {
    uint8_t pipeWord[4];
    protocol::putPipeWord(pipeWord, pipe);
    FinishedUrb urb{job.id, 0, std::vector<uint8_t>(wholePackets(job.length)), 0};
    if (!card_->request(protocol::kBulkRead, pipeWord, sizeof pipeWord, urb.data.data(), uint32_t(urb.data.size()),
                        &urb.actualLength))
        return FinishedUrb{job.id, -EPIPE, {}, 0};
    if (urb.actualLength > job.length) {
        urb.status = -EOVERFLOW;
        urb.actualLength = job.length;
    }
    urb.data.resize(urb.actualLength);
    return urb;
}

// A bulk URB made into the driver request the card's driver would make.
FinishedUrb UrbEngine::run(Job &job) {
    const auto pipe = uint32_t(pipeOfEndpoint(job.endpoint));
    if ((job.endpoint & 0x80) != 0)
        return read(job, pipe);
    uint8_t pipeWord[4];
    protocol::putPipeWord(pipeWord, pipe);
    if (pipe == protocol::kPipeAdCommand)
        slowDown(job.data);
    FinishedUrb urb{job.id, 0, {}, 0};
    if (!card_->request(protocol::kBulkWrite, pipeWord, sizeof pipeWord, job.data.data(), uint32_t(job.data.size()),
                        &urb.actualLength))
        return FinishedUrb{job.id, -EPIPE, {}, 0};
    return urb;
}

// A slow card converts at a fraction of the rate asked: the period divider
// of an AD configuration packet (bytes 5 to 8, in 100 ns ticks; 0 is one
// tick) is made that many times longer on its way to the card.
void UrbEngine::slowDown(std::vector<uint8_t> &packet) {
    constexpr size_t kDivider = 5;
    double factor = 1;
    {
        std::lock_guard lock(mutex_);
        factor = slowFactor_;
    }
    if (factor == 1 || packet.size() < kDivider + 4 || packet[0] != protocol::kCmdAdConfig)
        return;
    const uint32_t divider = std::max<uint32_t>(1, protocol::readLe32(&packet[kDivider]));
    const auto slowed = uint32_t(std::min(double(UINT32_MAX), divider * factor));
    for (size_t i = 0; i < 4; ++i)
        packet[kDivider + i] = uint8_t(slowed >> (8 * i));
}

// While the card answers nothing a URB waits, unless it is taken back.
void UrbEngine::waitWhileSilent(std::unique_lock<std::mutex> &lock, const Job &job) {
    faultChanged_.wait_until(lock, silentUntil_, [&] { return stopping_ || unplugged_ || !stillPending(job); });
}

bool UrbEngine::stillPending(const Job &job) const {
    const auto found = pending_.find(job.id);
    return found != pending_.end() && found->second == job.ticket;
}

void UrbEngine::work(uint8_t endpoint) {
    std::unique_lock lock(mutex_);
    Worker &worker = *workers_.at(endpoint);
    const uint32_t pipeBit = 1u << pipeOfEndpoint(endpoint);
    while (true) {
        worker.wake.wait(lock, [&] { return stopping_ || !worker.jobs.empty(); });
        if (stopping_)
            return;
        Job job = std::move(worker.jobs.front());
        worker.jobs.pop_front();
        waitWhileSilent(lock, job);
        if (stopping_)
            return;
        if (!stillPending(job))
            continue; // discarded or unplugged before it ran
        if (halted_ & pipeBit) {
            pending_.erase(job.id);
            finishLocked(FinishedUrb{job.id, -EPIPE, {}, 0});
            continue;
        }
        lock.unlock();
        FinishedUrb urb = run(job);
        lock.lock();
        if (stillPending(job)) { // not discarded while it ran
            pending_.erase(job.id);
            finishLocked(std::move(urb));
        }
    }
}

} // namespace kvd::usbsim
