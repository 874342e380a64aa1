// The card's driver on the USB card backend. Bulk requests are URBs without
// a time limit, so a read of AD data waits for its data as long as the card
// takes; only a stop, a close or an unplug ends it early.
//
// A card sends IN data in whole packets of the endpoint's wMaxPacketSize; a
// URB whose buffer ended inside a packet would overflow. So IN URBs are
// whole packets: a read that ends inside a packet takes the packet, and the
// rest of it is kept for the next read on that pipe of the same file, which
// gets it first, so not a byte is lost or repeated. A command on the AD
// command pipe (a set-up, start or stop restarts the card's sample stream),
// a cancel and a close drop what is kept: no sample of one acquisition
// reaches the next.
#include "platform/usb/usb_driver_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "card_model/driver_protocol.h"
#include "platform/usb/usb_devices.h"

namespace kvd::platform::usb {
namespace {

constexpr uint32_t kIdentitySize = 4;
constexpr uint32_t kPipeWordSize = 4;
constexpr uint32_t kInterfaceSize = 2;
// What one URB moves at most: the most usbfs takes in one piece everywhere.
constexpr uint32_t kMaxUrbBytes = 16384;
// URBs of one read queued at once: 128 KiB in flight.
constexpr uint32_t kQueuedUrbs = 8;

void answerNumber(void *input, uint32_t number, uint32_t *bytesReturned) {
    auto *bytes = static_cast<uint8_t *>(input);
    for (uint32_t i = 0; i < kIdentitySize; ++i)
        bytes[i] = static_cast<uint8_t>(number >> (8 * i));
    *bytesReturned = kIdentitySize;
}

} // namespace

// The slots for a read's queue and two requests beside it (a command, a
// status read) are made with the file: requests then allocate nothing.
DriverFile::DriverFile(std::shared_ptr<CardFile> card, int32_t logicalNumber)
    : card_(std::move(card)), logicalNumber_(logicalNumber) {
    for (uint32_t i = 0; i < kQueuedUrbs + 2; ++i)
        slots_.push_back(std::make_unique<Slot>());
}

bool DriverFile::enter(uint64_t *generation) {
    std::lock_guard lock(mutex_);
    if (shut_)
        return false;
    ++running_;
    *generation = generation_;
    return true;
}

void DriverFile::leave() {
    std::lock_guard lock(mutex_);
    if (--running_ == 0)
        idle_.notify_all();
}

void DriverFile::endAllLocked() {
    ++generation_;
    discardKeptLocked();
    for (const std::unique_ptr<Slot> &slot : slots_)
        if (slot->inFlight)
            card_->discard(slot->transfer);
}

void DriverFile::cancel() {
    std::lock_guard lock(mutex_);
    endAllLocked();
}

void DriverFile::shut() {
    std::unique_lock lock(mutex_);
    shut_ = true;
    endAllLocked();
    idle_.wait(lock, [&] { return running_ == 0; });
}

int32_t DriverFile::request(uint32_t code, void *input, uint32_t inputSize, void *output, uint32_t outputSize,
                            uint32_t *bytesReturned) {
    *bytesReturned = 0;
    if ((input == nullptr && inputSize != 0) || (output == nullptr && outputSize != 0))
        return 0;
    uint64_t generation = 0;
    if (!enter(&generation))
        return 0;
    bool done = false;
    if (!card_->gone()) {
        const auto *bytes = static_cast<const uint8_t *>(input);
        switch (code) {
        case protocol::kBulkRead:
            done = inputSize >= kPipeWordSize && read(protocol::readLe32(bytes), static_cast<uint8_t *>(output),
                                                      outputSize, bytesReturned, generation);
            break;
        case protocol::kBulkWrite:
            done = inputSize >= kPipeWordSize && write(protocol::readLe32(bytes), static_cast<uint8_t *>(output),
                                                       outputSize, bytesReturned, generation);
            break;
        case protocol::kGetDeviceCount:
            if ((done = inputSize >= kIdentitySize))
                answerNumber(input, static_cast<uint32_t>(MatchingDevices().devices().size()), bytesReturned);
            break;
        case protocol::kGetCurrentId:
            if ((done = inputSize >= kIdentitySize))
                answerNumber(input, static_cast<uint32_t>(logicalNumber_), bytesReturned);
            break;
        case protocol::kSetInterface:
            done = inputSize >= kInterfaceSize && card_->selectSetting(bytes[0], bytes[1]);
            break;
        case protocol::kUsbReset: done = card_->resetPort(); break;
        case protocol::kCreateLowFile:
        case protocol::kCloseLowFile: done = true; break;
        default: break;
        }
    }
    leave();
    return done ? 1 : 0;
}

void DriverFile::discardKeptLocked() {
    for (InPipe &in : inPipes_) {
        in.kept = 0;
        ++in.epoch;
    }
}

uint32_t DriverFile::takeKept(InPipe &in, uint8_t *data, uint32_t size, uint64_t *epoch) {
    std::lock_guard lock(mutex_);
    const uint32_t taken = std::min(size, in.kept);
    if (taken != 0) // before the first packet the buffer has no storage to copy from
        std::memcpy(data, in.packet.data() + in.keptFrom, taken);
    in.keptFrom += taken;
    in.kept -= taken;
    *epoch = in.epoch;
    return taken;
}

// Keeps the rest of the packet, unless a discard came while the read waited:
// then the packet belongs to what the card sent before.
void DriverFile::keep(InPipe &in, uint32_t from, uint32_t count, uint64_t epoch) {
    std::lock_guard lock(mutex_);
    if (in.epoch != epoch)
        return;
    in.keptFrom = from;
    in.kept = count;
}

bool DriverFile::read(uint32_t pipe, uint8_t *data, uint32_t size, uint32_t *bytesReturned, uint64_t generation) {
    Endpoint endpoint;
    if (pipe >= kMaxPipes || !card_->endpoint(pipe, true, &endpoint))
        return false;
    InPipe &in = inPipes_[pipe];
    std::lock_guard turn(in.turn);
    uint64_t epoch = 0;
    uint32_t done = takeKept(in, data, size, &epoch);
    const uint32_t packet = endpoint.maxPacket;
    if (const uint32_t whole = (size - done) / packet * packet; whole > 0) {
        uint32_t moved = 0;
        if (!readPackets(endpoint, data + done, whole, &moved, generation))
            return false;
        done += moved;
        if (moved < whole) { // a short packet ended the card's transfer
            *bytesReturned = done;
            return true;
        }
    }
    if (done < size) {
        if (in.packet.size() < packet)
            in.packet.resize(packet);
        uint32_t moved = 0;
        if (!transfer(endpoint, in.packet.data(), packet, &moved, generation))
            return false;
        const uint32_t used = std::min(moved, size - done);
        std::memcpy(data + done, in.packet.data(), used);
        done += used;
        keep(in, used, moved - used, epoch);
    }
    *bytesReturned = done;
    return true;
}

bool DriverFile::write(uint32_t pipe, const uint8_t *data, uint32_t size, uint32_t *bytesReturned,
                       uint64_t generation) {
    Endpoint endpoint;
    if (!card_->endpoint(pipe, false, &endpoint))
        return false;
    if (pipe == protocol::kPipeAdCommand) {
        std::lock_guard lock(mutex_);
        discardKeptLocked();
    }
    uint32_t done = 0;
    do {
        const uint32_t chunk = std::min(size - done, kMaxUrbBytes);
        uint32_t moved = 0;
        if (!transfer(endpoint, const_cast<uint8_t *>(data) + done, chunk, &moved, generation))
            return false;
        done += moved;
    } while (done < size);
    *bytesReturned = done;
    return true;
}

// Submits while holding the file's lock, so that a cancel either comes
// first (the request fails) or finds the URB in flight and takes it back.
DriverFile::Slot *DriverFile::submit(const Endpoint &endpoint, uint8_t *data, uint32_t size, uint64_t generation) {
    std::lock_guard lock(mutex_);
    if (shut_ || generation != generation_)
        return nullptr;
    auto free = std::find_if(slots_.begin(), slots_.end(), [](const auto &slot) { return !slot->taken; });
    if (free == slots_.end())
        free = slots_.insert(slots_.end(), std::make_unique<Slot>());
    Slot &slot = **free;
    slot.transfer.urb = usbdevfs_urb{};
    slot.transfer.urb.type = USBDEVFS_URB_TYPE_BULK;
    slot.transfer.urb.endpoint = endpoint.address;
    slot.transfer.urb.buffer = data;
    slot.transfer.urb.buffer_length = int(size);
    if (card_->submit(slot.transfer) != 0)
        return nullptr;
    slot.taken = true;
    slot.inFlight = true;
    return &slot;
}

// Waits for the slot's URB and gives the slot back; the URB's status.
int DriverFile::finish(const Endpoint &endpoint, Slot *slot, uint32_t *moved) {
    card_->await(slot->transfer);
    const int status = slot->transfer.urb.status;
    *moved = uint32_t(std::max(slot->transfer.urb.actual_length, 0));
    {
        std::lock_guard lock(mutex_);
        slot->inFlight = false;
        slot->taken = false;
    }
    if (status == -EPIPE) // the endpoint halted: this request fails, the next one may work
        card_->clearHalt(endpoint.address);
    return status;
}

bool DriverFile::transfer(const Endpoint &endpoint, uint8_t *data, uint32_t size, uint32_t *moved,
                          uint64_t generation) {
    Slot *slot = submit(endpoint, data, size, generation);
    return slot != nullptr && finish(endpoint, slot, moved) == 0;
}

// Whole packets straight into the caller's buffer, in URBs of at most
// kMaxUrbBytes with several queued at once, so that the card's data flows
// while the next URB is prepared. A URB that comes back short ends the
// card's transfer: the ones queued after it are taken back, and whatever
// they did receive closes up behind the data before it.
bool DriverFile::readPackets(const Endpoint &endpoint, uint8_t *data, uint32_t size, uint32_t *moved,
                             uint64_t generation) {
    struct Queued {
        Slot *slot;
        uint32_t offset;
        uint32_t size;
    };
    std::array<Queued, kQueuedUrbs> queue{};
    const uint32_t largest = kMaxUrbBytes / endpoint.maxPacket * endpoint.maxPacket;
    uint32_t submitted = 0, done = 0, first = 0, count = 0;
    bool failed = false, ended = false; // ended: a short URB, or a failure, stops submitting
    while (count > 0 || (!ended && submitted < size)) {
        for (; !ended && submitted < size && count < kQueuedUrbs; ++count) {
            const uint32_t chunk = std::min(size - submitted, largest);
            Slot *slot = submit(endpoint, data + submitted, chunk, generation);
            if (slot == nullptr) {
                failed = ended = true;
                break;
            }
            queue[(first + count) % kQueuedUrbs] = {slot, submitted, chunk};
            submitted += chunk;
        }
        if (count == 0)
            break;
        const Queued urb = queue[first];
        first = (first + 1) % kQueuedUrbs;
        --count;
        uint32_t got = 0;
        const int status = finish(endpoint, urb.slot, &got);
        const bool takenBack = status == -ENOENT && ended && !failed;
        if (status != 0 && !takenBack)
            failed = true;
        if (!ended && (failed || got < urb.size)) {
            ended = true;
            std::lock_guard lock(mutex_);
            for (uint32_t i = 0; i < count; ++i)
                card_->discard(queue[(first + i) % kQueuedUrbs].slot->transfer);
        }
        if (!failed && got > 0) {
            std::memmove(data + done, data + urb.offset, got);
            done += got;
        }
    }
    *moved = done;
    return !failed;
}

} // namespace kvd::platform::usb
