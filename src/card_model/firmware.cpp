#include "card_model/firmware.h"

#include <cstring>

namespace kvd::vcard {
namespace {

// The DA word's fields (24 bits in packet bytes 1 to 3).
constexpr uint32_t kDaSetupFlag = 1u << 19;
constexpr uint32_t kDaControlBits = 0xFu << 20; // set only in the open packet

// The period divider counts 100 ns ticks.
constexpr uint64_t kNanosecondsPerTick = 100;

} // namespace

Firmware::Firmware(uint8_t physicalId, ClockReader clock) : clock_(clock), physicalId_(physicalId) {
    for (int32_t &value : daValues_)
        value = -1;
}

void Firmware::packetFrom(Packet &packet, const uint8_t *data, uint32_t size) {
    std::memset(packet.bytes, 0, sizeof packet.bytes);
    std::memcpy(packet.bytes, data, size < protocol::kPacketSize ? size : protocol::kPacketSize);
}

void Firmware::takeAdCommand(const uint8_t *data, uint32_t size) {
    if (size == 0)
        return;
    Packet packet;
    packetFrom(packet, data, size);
    const uint8_t *bytes = packet.bytes;
    switch (bytes[0]) {
    case protocol::kCmdAdRange: rangeWord_ = static_cast<uint16_t>(bytes[1] | bytes[2] << 8); break;
    case protocol::kCmdAdConfig: std::memcpy(config_, &bytes[1], sizeof config_); break;
    case protocol::kCmdAdRun: startOrStop(bytes[1] != 0); break;
    default: break;
    }
}

void Firmware::takeCommand(const uint8_t *data, uint32_t size) {
    if (size == 0)
        return;
    Packet packet;
    packetFrom(packet, data, size);
    const uint8_t *bytes = packet.bytes;
    switch (bytes[0]) {
    case protocol::kCmdDaWord: takeDaWord(packet); break;
    case protocol::kCmdSetDo: doLines_ = static_cast<uint16_t>(bytes[1] | bytes[2] << 8); break;
    case protocol::kCmdTrigLevel: triggerLevel_ = bytes[1]; break;
    default: break;
    }
}

// A value word sets the channel's 12-bit value; a setup word only selects the
// converter's setup, which nothing observes; the open packet carries control
// bits no DA word has and leaves the DA values alone.
void Firmware::takeDaWord(const Packet &packet) {
    const uint32_t word = packet.bytes[1] | packet.bytes[2] << 8 | packet.bytes[3] << 16;
    if ((word & kDaControlBits) != 0 || (word & kDaSetupFlag) != 0)
        return;
    const uint32_t channel = (word >> 16) & 7;
    daValues_[channel] = static_cast<int32_t>((word >> 4) & 0x0FFF);
}

// Every start begins a new sample stream: scan 0, first channel. A start
// while running is a restart: it ends the drive of the line at that instant.
void Firmware::startOrStop(bool start) {
    const Nanoseconds now = clock_();
    if (running_)
        stopClocks(now);
    running_ = start;
    if (start) {
        samples_.start(firstChannel(), lastChannel());
        started_ = now;
        lost_ = 0;
        startClocks(now);
    } else {
        stopped_ = now;
    }
}

// A card both taking and putting out the clock passes the received ticks on
// and adds none of its own, so only a card on its own clock drives the line.
void Firmware::startClocks(Nanoseconds now) {
    takingClock_ = (modeByte() & kModeExternalClock) != 0;
    drivingClock_ = line_ != nullptr && !takingClock_ && (modeByte() & kModeClockOutput) != 0;
    ticksAtStart_ = takingClock_ && line_ != nullptr ? line_->ticks(now) : 0;
    ticksAtStop_ = ticksAtStart_;
    scansTicked_ = 0;
    const SampleClock scans{now, samplePeriod() * samples_.channels(), offsetPpm_};
    const uint64_t benchScan = startOnBench(scans);
    if (!drivingClock_)
        return;
    if (pace_ == Pace::Clock)
        line_->drive(this, scans, benchScan);
    else
        line_->driveAsRead(this, now, benchScan);
}

// A card on its own clock takes its scan 0 at the bench's scan its own clock
// has counted since the bench began (an unpaced card as if it converted at
// its rate). A card on the received clock takes the scans of the ticks it
// receives, known once its first read comes (the ticks have come by then, or
// the driver is still to start on an idle bench: scan 0).
uint64_t Firmware::startOnBench(const SampleClock &scans) {
    phasePending_ = takingClock_ && line_ != nullptr;
    onBench_ = line_ != nullptr && !takingClock_;
    if (!onBench_)
        return 0;
    const SampleClock sinceBenchBegan{line_->benchStart(scans.start), scans.period, scans.offsetPpm};
    const uint64_t benchScan = sinceBenchBegan.ticksBy(scans.start);
    samples_.setPhase(benchScan);
    return benchScan;
}

void Firmware::stopClocks(Nanoseconds now) {
    if (takingClock_ && line_ != nullptr)
        ticksAtStop_ = line_->ticks(now);
    if (drivingClock_)
        line_->release(this, now);
    if (onBench_)
        line_->benchStop();
    drivingClock_ = false;
    onBench_ = false;
}

void Firmware::tickAsRead() {
    if (!drivingClock_ || pace_ != Pace::Reads)
        return;
    const uint64_t scans = samples_.samplesDelivered() / samples_.channels();
    if (scans > scansTicked_)
        line_->tick(this, scans - scansTicked_);
    scansTicked_ = scans;
}

// A divider of 0 runs at the fastest, one tick a sample.
uint64_t Firmware::samplePeriod() const {
    const uint32_t ticks = divider();
    return (ticks != 0 ? ticks : 1) * kNanosecondsPerTick;
}

uint64_t Firmware::samplesConverted(Nanoseconds now) const {
    if (takingClock_)
        return scansReceived(now) * samples_.channels();
    const Nanoseconds end = running_ ? now : (stopped_ > started_ ? stopped_ : started_);
    return ownClock().ticksBy(end);
}

// The ticks the line carried since the start (until the stop when stopped).
uint64_t Firmware::scansReceived(Nanoseconds now) const {
    if (line_ == nullptr)
        return 0;
    const uint64_t ticks = running_ ? line_->ticks(now) : ticksAtStop_;
    return ticks > ticksAtStart_ ? ticks - ticksAtStart_ : 0;
}

uint64_t Firmware::loseOverflow(Nanoseconds now) {
    const uint64_t converted = samplesConverted(now);
    const uint64_t delivered = samples_.samplesDelivered();
    if (memorySamples_ == 0 || converted <= delivered || converted - delivered <= memorySamples_)
        return 0;
    const uint64_t channels = samples_.channels();
    const uint64_t excess = converted - delivered - memorySamples_;
    // Whole scans, never past the converted ones (a memory smaller than a scan
    // keeps its last whole scans).
    const uint64_t wholeScans = (converted - delivered) / channels * channels;
    const uint64_t roundedUp = (excess + channels - 1) / channels * channels;
    const uint64_t lost = roundedUp < wholeScans ? roundedUp : wholeScans;
    if (lost == 0)
        return 0;
    samples_.skip(lost);
    lost_ += lost;
    return lost;
}

Nanoseconds Firmware::convertedAt(uint64_t count) const {
    if (!takingClock_)
        return ownClock().tickAt(count);
    if (line_ == nullptr || !running_)
        return kNever;
    const uint64_t channels = samples_.channels();
    return line_->tickedAt(ticksAtStart_ + (count + channels - 1) / channels);
}

int32_t Firmware::daValue(uint32_t channel) const { return channel < kDaChannels ? daValues_[channel] : -1; }

void Firmware::overrideStatusByte(uint32_t index, uint8_t value) {
    if (index < protocol::kPacketSize) {
        statusOverrides_[index] = value;
        statusOverridden_[index] = true;
    }
}

uint8_t Firmware::statusByte(uint32_t index) const {
    if (statusOverridden_[index])
        return statusOverrides_[index];
    switch (index) {
    case protocol::kStatusDiLow: return static_cast<uint8_t>(doLines_);
    case protocol::kStatusDiHigh: return static_cast<uint8_t>(doLines_ >> 8);
    case protocol::kStatusPhysicalId: return physicalId_;
    case protocol::kStatusVersion: return static_cast<uint8_t>(kVersion);
    case protocol::kStatusVersion + 1: return static_cast<uint8_t>(kVersion >> 8);
    case protocol::kStatusVersion + 2: return static_cast<uint8_t>(kVersion >> 16);
    default: break;
    }
    if (index >= kStatusDaValues && index < kStatusDaValues + 2 * kDaChannels) {
        const auto value = static_cast<uint16_t>(daValues_[(index - kStatusDaValues) / 2]);
        return static_cast<uint8_t>((index - kStatusDaValues) % 2 ? value >> 8 : value);
    }
    return 0;
}

void Firmware::readStatus(uint8_t *out, uint32_t size) const {
    const uint32_t count = size < protocol::kPacketSize ? size : protocol::kPacketSize;
    for (uint32_t i = 0; i < count; ++i)
        out[i] = statusByte(i);
}

void Firmware::readSamples(uint8_t *out, uint32_t size) {
    if (phasePending_) {
        samples_.setPhase(line_->benchScanOfTick(ticksAtStart_));
        phasePending_ = false;
    }
    samples_.read(out, size);
    tickAsRead();
}

} // namespace kvd::vcard
