#include "block_reader.h"

#include <algorithm>

#include "card_message.h"

namespace kvd::stream {

BlockReader::BlockReader(KVD4093_HANDLE card, AcquisitionStop &stop, BlockQueue &queue, const ReadPlan &plan,
                         ReadObserver &observer, Reconnection *reconnection)
    : card_(card), stop_(stop), queue_(queue), plan_(plan), observer_(observer), reconnection_(reconnection),
      dropped_(plan.onOverrun == OverrunChoice::Continue ? size_t(queue.blockScans()) * plan.channels : 0),
      nextScan_(plan.firstScan), samplesRead_(kSetUpSamples), thread_([this] { run(); }) {}

BlockReader::~BlockReader() {
    stop_.stop();
    join();
}

void BlockReader::join() {
    if (thread_.joinable())
        thread_.join();
}

// The set-up took 512 samples; when that is not a whole number of scans the
// rest of the partial scan is dropped, so every scan starts with the first
// channel.
bool BlockReader::skipPartialScan() {
    uint32_t skip = (plan_.channels - kSetUpSamples % plan_.channels) % plan_.channels;
    uint16_t scratch[256];
    while (skip > 0 && !stopAsked()) {
        uint32_t got = 0;
        if (!KVD4093_ReadDeviceAD(card_, scratch, skip, &got))
            return false;
        got = std::min(got, skip);
        skip -= got;
        samplesRead_ += got;
    }
    return true;
}

// Reads until `scans` whole scans are in; false when a read failed or a stop
// was asked for. A read that ends inside a scan goes on with the next one.
bool BlockReader::readScans(uint16_t *samples, uint32_t scans) {
    const uint32_t wanted = scans * plan_.channels;
    for (uint32_t held = 0; held < wanted;) {
        if (stopAsked())
            return false;
        uint32_t got = 0;
        if (!KVD4093_ReadDeviceAD(card_, samples + held, wanted - held, &got))
            return false;
        got = std::min(got, wanted - held);
        held += got;
        samplesRead_ += got;
    }
    return true;
}

uint32_t BlockReader::nextBlockScans() const {
    if (plan_.plannedScans == 0)
        return queue_.blockScans();
    return static_cast<uint32_t>(std::min<uint64_t>(queue_.blockScans(), plan_.plannedScans - nextScan_));
}

void BlockReader::measureBacklog() {
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - plan_.start).count();
    const double owed = seconds * plan_.sampleRate;
    const double behind = owed > double(samplesRead_) ? (owed - double(samplesRead_)) / plan_.channels : 0;
    const auto scans = static_cast<uint64_t>(behind);
    backlog_.store(scans, std::memory_order_relaxed);
    if (scans > largestBacklog_.load(std::memory_order_relaxed))
        largestBacklog_.store(scans, std::memory_order_relaxed);
}

Block *BlockReader::emptyBlock() {
    const auto caughtUp = plan_.start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                            std::chrono::duration<double>(double(samplesRead_) / plan_.sampleRate));
    return blockInTime(queue_, caughtUp, [this] { return stopAsked(); });
}

void BlockReader::run() {
    do
        readSegment();
    while (result_.failure && reconnectAfterLoss());
    result_.lostAtEnd = lostPending_;
    // The stop that follows the last start, whoever ended the reading.
    stop_.stop();
    observer_.ended(result_);
    running_.store(false);
    queue_.close();
}

// A read failed: a card pulled out is taken back, and the scans its clock
// gave meanwhile are a gap before the next block.
bool BlockReader::reconnectAfterLoss() {
    if (reconnection_ == nullptr || stopAsked() || !reconnection_->lostCard())
        return false;
    std::string why;
    const std::optional<Restart> restart = reconnection_->reconnect(0, nextScan_, &why);
    if (!restart) {
        result_.failure = why.empty() ? std::nullopt : std::optional<std::string>(why);
        result_.described = true;
        return false;
    }
    result_.failure.reset();
    card_ = reconnection_->card(0);
    plan_.start = restart->start;
    plan_.firstScan = restart->firstScan;
    samplesRead_ = kSetUpSamples;
    // Scans past the planned ones are not lost: the reading ends there.
    const uint64_t end = plan_.plannedScans == 0 ? restart->firstScan : std::min(restart->firstScan, plan_.plannedScans);
    const uint64_t away = end - nextScan_;
    lostPending_ += away;
    lostAway_ = lostAway_ || away > 0;
    scansLost_.fetch_add(away, std::memory_order_relaxed);
    nextScan_ = restart->firstScan;
    return true;
}

void BlockReader::readSegment() {
    if (!skipPartialScan() && !stopAsked())
        result_.failure = cardMessage("KVD4093_ReadDeviceAD");
    while (!result_.failure && (plan_.plannedScans == 0 || nextScan_ < plan_.plannedScans) && !stopAsked()) {
        Block *block = emptyBlock();
        if (stopAsked()) {
            if (block != nullptr)
                queue_.release(block);
            break;
        }
        if (block == nullptr && plan_.onOverrun == OverrunChoice::Stop) {
            result_.overrun = true;
            break;
        }
        const uint32_t scans = nextBlockScans();
        const bool complete = readScans(block != nullptr ? block->samples : dropped_.data(), scans);
        // A read that returns after the stop may hold samples the card took
        // at the stop's own rate: that block is dropped.
        if (!complete || stopAsked()) {
            if (!complete && !stopAsked())
                result_.failure = cardMessage("KVD4093_ReadDeviceAD");
            if (block != nullptr)
                queue_.release(block);
            break;
        }
        measureBacklog();
        if (block == nullptr) {
            lostPending_ += scans;
            scansLost_.fetch_add(scans, std::memory_order_relaxed);
        } else {
            *block = {block->samples, nextScan_, scans, lostPending_, lostAway_};
            lostPending_ = 0;
            lostAway_ = false;
            observer_.queued(*block);
            scansQueued_.fetch_add(scans, std::memory_order_relaxed);
            queue_.push(block);
        }
        nextScan_ += scans;
    }
}

} // namespace kvd::stream
