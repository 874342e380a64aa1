// The virtual card's firmware: what the card does with the command packets it
// receives on pipes 0 and 1, and what it sends back on pipes 2 and 3.
// Not thread-safe: the card that owns it serialises every call.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>

#include "platform/driver_protocol.h"
#include "platform/virtual/sample_stream.h"

namespace kvd::vcard {

class Firmware {
public:
    static constexpr uint32_t kDaChannels = 8;

    explicit Firmware(uint8_t physicalId);

    // Takes a packet written to pipe 0 (AD commands) or pipe 1 (commands).
    // Bytes beyond `size` read as zero; unknown command codes are ignored.
    void takeAdCommand(const uint8_t *data, uint32_t size);
    void takeCommand(const uint8_t *data, uint32_t size);

    // Writes the first `size` bytes (at most a packet) of the status packet.
    void readStatus(uint8_t *out, uint32_t size) const;
    // Writes `size` bytes of samples and moves on past every sample touched.
    void readSamples(uint8_t *out, uint32_t size);
    void setSignals(Signals signals, Noise noise) { samples_.setSignals(signals, noise); }

    using Clock = std::chrono::steady_clock;
    // Samples the card has converted by `now` since the last start (up to the
    // stop when it is stopped), at the rate the period divider gives.
    uint64_t samplesConverted(Clock::time_point now) const;
    uint64_t samplesDelivered() const { return samples_.samplesDelivered(); }
    // When the converted samples reach `count`, at the current rate.
    Clock::time_point whenConverted(uint64_t count) const;

    void overrideStatusByte(uint32_t index, uint8_t value);

    bool running() const { return running_; }
    uint16_t doLines() const { return doLines_; }
    uint8_t triggerLevel() const { return triggerLevel_; }
    int32_t daValue(uint32_t channel) const;
    uint16_t rangeWord() const { return rangeWord_; }
    uint8_t firstChannel() const { return config_[0]; }
    uint8_t lastChannel() const { return config_[1]; }
    uint32_t divider() const { return protocol::readLe32(&config_[4]); }

private:
    using Packet = std::array<uint8_t, protocol::kPacketSize>;
    static Packet packetFrom(const uint8_t *data, uint32_t size);

    void takeDaWord(const Packet &packet);
    void startOrStop(bool start);
    uint8_t statusByte(uint32_t index) const;

    uint8_t physicalId_;
    uint16_t rangeWord_ = 0;
    std::array<uint8_t, 17> config_{}; // configuration bytes 1 to 17
    bool running_ = false;
    Clock::time_point started_{};
    Clock::time_point stopped_{};
    SampleStream samples_;
    std::array<int32_t, kDaChannels> daValues_;
    uint16_t doLines_ = 0;
    uint8_t triggerLevel_ = 0;
    std::array<std::optional<uint8_t>, protocol::kPacketSize> statusOverrides_{};
};

} // namespace kvd::vcard
