#include "urb_engine.h"

#include <algorithm>
#include <cerrno>

#include "card_descriptors.h"
#include "card_model/driver_protocol.h"

namespace kvd::usbsim {

UrbEngine::UrbEngine(std::unique_ptr<CardLink> card) : card_(std::move(card)) {}

UrbEngine::~UrbEngine() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        for (auto &[endpoint, worker] : workers_)
            worker->wake.notify_all();
    }
    for (auto &[endpoint, worker] : workers_)
        worker->thread.join();
}

int UrbEngine::present() const {
    std::lock_guard lock(mutex_);
    return unplugged_ ? ENODEV : 0;
}

int32_t UrbEngine::cardRequest(uint32_t code, void *input, uint32_t inputSize) {
    uint32_t returned = 0;
    return card_->request(code, input, inputSize, nullptr, 0, &returned);
}

int UrbEngine::setInterface(uint32_t interfaceNumber, uint32_t alternateSetting) {
    if (int error = present())
        return error;
    uint8_t setting[2] = {uint8_t(interfaceNumber), uint8_t(alternateSetting)};
    return cardRequest(protocol::kSetInterface, setting, sizeof setting) ? 0 : EIO;
}

int UrbEngine::reset() {
    if (int error = present())
        return error;
    return cardRequest(protocol::kUsbReset, nullptr, 0) ? 0 : EIO;
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
    const uint64_t ticket = ++tickets_;
    pending_[id] = ticket;
    Worker &worker = workerFor(endpoint);
    worker.jobs.push_back(Job{id, ticket, endpoint, std::move(data), length});
    worker.wake.notify_one();
    return 0;
}

int UrbEngine::discard(UrbName id) {
    std::lock_guard lock(mutex_);
    if (pending_.erase(id) == 0)
        return EINVAL;
    finished_.push_back(FinishedUrb{id, -ENOENT, {}, 0});
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
    return urb;
}

void UrbEngine::forget(uint64_t owner) {
    std::lock_guard lock(mutex_);
    std::erase_if(pending_, [&](const auto &entry) { return entry.first.owner == owner; });
    std::erase_if(finished_, [&](const FinishedUrb &urb) { return urb.id.owner == owner; });
}

void UrbEngine::unplug() {
    std::lock_guard lock(mutex_);
    unplugged_ = true;
    for (const auto &[id, ticket] : pending_)
        finished_.push_back(FinishedUrb{id, -ESHUTDOWN, {}, 0});
    pending_.clear();
}

// A bulk URB made into the driver request the card's driver would make.
FinishedUrb UrbEngine::run(Job &job) {
    const bool in = (job.endpoint & 0x80) != 0;
    uint8_t pipeWord[4];
    protocol::putPipeWord(pipeWord, uint32_t(pipeOfEndpoint(job.endpoint)));
    FinishedUrb urb{job.id, 0, {}, 0};
    if (in)
        urb.data.resize(job.length);
    void *buffer = in ? urb.data.data() : job.data.data();
    const uint32_t size = in ? job.length : uint32_t(job.data.size());
    const int32_t result = card_->request(in ? protocol::kBulkRead : protocol::kBulkWrite, pipeWord, sizeof pipeWord,
                                          buffer, size, &urb.actualLength);
    if (!result) {
        urb.status = -EPIPE;
        urb.actualLength = 0;
    }
    urb.data.resize(in ? urb.actualLength : 0);
    return urb;
}

bool UrbEngine::stillPending(const Job &job) const {
    const auto found = pending_.find(job.id);
    return found != pending_.end() && found->second == job.ticket;
}

void UrbEngine::work(uint8_t endpoint) {
    std::unique_lock lock(mutex_);
    Worker &worker = *workers_.at(endpoint);
    while (true) {
        worker.wake.wait(lock, [&] { return stopping_ || !worker.jobs.empty(); });
        if (stopping_)
            return;
        Job job = std::move(worker.jobs.front());
        worker.jobs.pop_front();
        if (!stillPending(job))
            continue; // discarded or unplugged before it ran
        lock.unlock();
        FinishedUrb urb = run(job);
        lock.lock();
        if (stillPending(job)) { // not discarded while it ran
            pending_.erase(job.id);
            finished_.push_back(std::move(urb));
        }
    }
}

} // namespace kvd::usbsim
