#include "platform/virtual/firmware.h"

#include <algorithm>
#include <cstring>

#include "platform/virtual/virtual_card.h"

namespace kvd::vcard {
namespace {

// The DA word's fields (24 bits in packet bytes 1 to 3).
constexpr uint32_t kDaSetupFlag = 1u << 19;
constexpr uint32_t kDaControlBits = 0xFu << 20; // set only in the open packet

} // namespace

Firmware::Firmware(uint8_t physicalId) : physicalId_(physicalId) { daValues_.fill(-1); }

Firmware::Packet Firmware::packetFrom(const uint8_t *data, uint32_t size) {
    Packet packet{};
    std::memcpy(packet.data(), data, std::min<uint32_t>(size, protocol::kPacketSize));
    return packet;
}

void Firmware::takeAdCommand(const uint8_t *data, uint32_t size) {
    if (size == 0)
        return;
    const Packet packet = packetFrom(data, size);
    switch (packet[0]) {
    case protocol::kCmdAdRange: rangeWord_ = static_cast<uint16_t>(packet[1] | packet[2] << 8); break;
    case protocol::kCmdAdConfig: std::copy_n(&packet[1], config_.size(), config_.begin()); break;
    case protocol::kCmdAdRun: startOrStop(packet[1] != 0); break;
    default: break;
    }
}

void Firmware::takeCommand(const uint8_t *data, uint32_t size) {
    if (size == 0)
        return;
    const Packet packet = packetFrom(data, size);
    switch (packet[0]) {
    case protocol::kCmdDaWord: takeDaWord(packet); break;
    case protocol::kCmdSetDo: doLines_ = static_cast<uint16_t>(packet[1] | packet[2] << 8); break;
    case protocol::kCmdTrigLevel: triggerLevel_ = packet[1]; break;
    default: break;
    }
}

// A value word sets the channel's 12-bit value; a setup word only selects the
// converter's setup, which nothing observes; the open packet carries control
// bits no DA word has and leaves the DA values alone.
void Firmware::takeDaWord(const Packet &packet) {
    const uint32_t word = packet[1] | packet[2] << 8 | packet[3] << 16;
    if ((word & kDaControlBits) != 0 || (word & kDaSetupFlag) != 0)
        return;
    const uint32_t channel = (word >> 16) & 7;
    daValues_[channel] = static_cast<int32_t>((word >> 4) & 0x0FFF);
}

// Every start begins a new sample stream: scan 0, first channel.
void Firmware::startOrStop(bool start) {
    running_ = start;
    if (start) {
        samples_.start(firstChannel(), lastChannel());
        started_ = Clock::now();
    } else {
        stopped_ = Clock::now();
    }
}

namespace {
// Samples per second at a period divider of 100 ns ticks; 0 runs at the fastest.
double sampleRate(uint32_t divider) { return 10000000.0 / double(divider != 0 ? divider : 1); }
} // namespace

uint64_t Firmware::samplesConverted(Clock::time_point now) const {
    const Clock::time_point end = running_ ? now : std::max(stopped_, started_);
    const double seconds = std::chrono::duration<double>(end - started_).count();
    return seconds <= 0 ? 0 : static_cast<uint64_t>(seconds * sampleRate(divider()));
}

Firmware::Clock::time_point Firmware::whenConverted(uint64_t count) const {
    const auto seconds = std::chrono::duration<double>(double(count) / sampleRate(divider()));
    return started_ + std::chrono::duration_cast<Clock::duration>(seconds);
}

int32_t Firmware::daValue(uint32_t channel) const { return channel < kDaChannels ? daValues_[channel] : -1; }

void Firmware::overrideStatusByte(uint32_t index, uint8_t value) {
    if (index < statusOverrides_.size())
        statusOverrides_[index] = value;
}

uint8_t Firmware::statusByte(uint32_t index) const {
    if (statusOverrides_[index])
        return *statusOverrides_[index];
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
    const uint32_t count = std::min<uint32_t>(size, protocol::kPacketSize);
    for (uint32_t i = 0; i < count; ++i)
        out[i] = statusByte(i);
}

void Firmware::readSamples(uint8_t *out, uint32_t size) { samples_.read(out, size); }

} // namespace kvd::vcard
