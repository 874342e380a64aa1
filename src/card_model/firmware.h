// The card model: the card's side of the protocol (driver_protocol.h), written
// once and served by every test card: the virtual card backend inside the
// library, the emulated USB card behind umockdev and the software Windows
// driver. Its rules, which every file of this folder keeps:
//  - freestanding: it builds inside a kernel driver, so no exceptions, no
//    allocation, no C library maths and no OS call;
//  - no clock of its own: time comes from a clock reader its owner hands in
//    (the steady clock by default in an ordinary program);
//  - not thread-safe: the card that owns a model serialises every call;
//  - nothing above it: it includes only this folder.
//
// The firmware: what the card does with the command packets it receives on
// pipes 0 and 1, and what it sends back on pipes 2 and 3.
#pragma once

#include <cstdint>

#include "card_model/clock_line.h"
#include "card_model/driver_protocol.h"
#include "card_model/sample_clock.h"
#include "card_model/sample_stream.h"

#if __STDC_HOSTED__
#include <chrono>
#endif

namespace kvd::vcard {

// The version the card model reports in status bytes 18 to 20
// (0x01, 0x00, 0x01, least significant first).
constexpr uint32_t kVersion = 0x010001;

// Status bytes the library does not read carry, on a modelled card, the last
// DA value of each channel: channel c in bytes kStatusDaValues + 2c and the
// next, least significant first, 0xFFFF for a channel never written. Tools
// read them through BulkRead on pipe 3.
constexpr uint32_t kStatusDaValues = 21;

using ClockReader = Nanoseconds (*)();

// The clock codes of the configuration packet's mode byte (byte 3), as this
// card numbers them: ClockSource 1 converts on the clock the card receives on
// its connector, 0 on its own; bClockOutput 1 puts the card's sample clock out
// on its connector while it converts. Both take effect at the next start.
constexpr uint8_t kModeExternalClock = 1u << 6;
constexpr uint8_t kModeClockOutput = 1u << 7;

// How the card's owner hands out samples: as the card converts them at its
// clock's rate, or as fast as they are read (an unpaced virtual card). A card
// that converts as it is read and drives a clock line ticks it once per whole
// scan read.
enum class Pace { Clock, Reads };

class Firmware {
public:
    static constexpr uint32_t kDaChannels = 8;

    Firmware(uint8_t physicalId, ClockReader clock);

    // Takes a packet written to pipe 0 (AD commands) or pipe 1 (commands).
    // Bytes beyond `size` read as zero; unknown command codes are ignored.
    void takeAdCommand(const uint8_t *data, uint32_t size);
    void takeCommand(const uint8_t *data, uint32_t size);

    // Writes the first `size` bytes (at most a packet) of the status packet.
    void readStatus(uint8_t *out, uint32_t size) const;
    // Writes `size` bytes of samples and moves on past every sample touched.
    void readSamples(uint8_t *out, uint32_t size);
    void setSignals(Signals signals, Noise noise) { samples_.setSignals(signals, noise); }
    // See SampleStream::setPeriodStorage.
    void setPeriodStorage(uint8_t *storage, uint32_t capacity) { samples_.setPeriodStorage(storage, capacity); }

    // The clock line the card's connector is wired to (nullptr: none, the
    // default). Without a line a card on the received clock converts nothing
    // and a clock output goes nowhere.
    void wireClockLine(ClockLine *line) { line_ = line; }
    void setPace(Pace pace) { pace_ = pace; }
    // How far the card's own clock is off, in parts per million: it converts
    // at the divider's rate times (1 + ppm x 1e-6). Clamped to +-kMaxClockOffsetPpm.
    void setClockOffsetPpm(int32_t ppm) { offsetPpm_ = clampedOffsetPpm(ppm); }
    int32_t clockOffsetPpm() const { return offsetPpm_; }
    // Whether the acquisition running (or the last one) converts on the received clock.
    bool onReceivedClock() const { return takingClock_; }

    // Samples the card has converted by `now` since the last start (up to the
    // stop when it is stopped): on its own clock at the rate the period
    // divider gives, offset by its ppm; on the received clock a scan for every
    // tick of the line since the start.
    uint64_t samplesConverted(Nanoseconds now) const;
    uint64_t samplesDelivered() const { return samples_.samplesDelivered(); }
    // The card's own memory: how many converted samples it holds until they
    // are read; 0 holds every one (no limit, the default).
    void setMemorySamples(uint64_t samples) { memorySamples_ = samples; }
    uint64_t memorySamples() const { return memorySamples_; }
    // A host that reads too late finds the memory overflowed: of the samples
    // converted by `now` and not read, the oldest that do not fit are lost, in
    // whole scans so that every scan still starts with the first channel, and
    // the stream goes on from the oldest sample still held. Call it as a read
    // arrives: while a read waits, the samples flow out as they are converted
    // and none is lost. Returns the samples lost now.
    uint64_t loseOverflow(Nanoseconds now);
    // Samples lost that way since the last start.
    uint64_t samplesLost() const { return lost_; }
    // When the converted samples reach `count`, at the current rate
    // (saturating at the end of the clock's range); kNever on a received clock
    // that no card drives by its clock.
    Nanoseconds convertedAt(uint64_t count) const;
    Nanoseconds now() const { return clock_(); }

#if __STDC_HOSTED__
    // The same on the steady clock of an ordinary program, for a firmware
    // that reads that clock (the constructor without a clock reader).
    using Clock = std::chrono::steady_clock;
    static Nanoseconds steadyNow() { return Nanoseconds(std::chrono::nanoseconds(Clock::now().time_since_epoch()).count()); }
    explicit Firmware(uint8_t physicalId) : Firmware(physicalId, &steadyNow) {}
    uint64_t samplesConverted(Clock::time_point now) const {
        return samplesConverted(Nanoseconds(std::chrono::nanoseconds(now.time_since_epoch()).count()));
    }
    // Clock::time_point::max() for kNever.
    Clock::time_point whenConverted(uint64_t count) const {
        const Nanoseconds at = convertedAt(count);
        if (at > Nanoseconds(Clock::duration::max().count()))
            return Clock::time_point::max();
        return Clock::time_point(std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(at)));
    }
#endif

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
    struct Packet {
        uint8_t bytes[protocol::kPacketSize];
    };
    static void packetFrom(Packet &packet, const uint8_t *data, uint32_t size);

    void takeDaWord(const Packet &packet);
    void startOrStop(bool start);
    uint8_t statusByte(uint32_t index) const;
    // The time between two samples, in nanoseconds.
    uint64_t samplePeriod() const;
    SampleClock ownClock() const { return {started_, samplePeriod(), offsetPpm_}; }
    uint8_t modeByte() const { return config_[2]; }
    void startClocks(Nanoseconds now);
    void stopClocks(Nanoseconds now);
    uint64_t scansReceived(Nanoseconds now) const;
    void tickAsRead();
    uint64_t startOnBench(const SampleClock &scans);

    ClockReader clock_;
    uint8_t physicalId_;
    uint16_t rangeWord_ = 0;
    uint8_t config_[17] = {}; // configuration bytes 1 to 17
    bool running_ = false;
    Nanoseconds started_ = 0;
    Nanoseconds stopped_ = 0;
    SampleStream samples_;
    uint64_t memorySamples_ = 0;
    uint64_t lost_ = 0;
    int32_t daValues_[kDaChannels];
    uint16_t doLines_ = 0;
    uint8_t triggerLevel_ = 0;
    ClockLine *line_ = nullptr;
    Pace pace_ = Pace::Clock;
    int32_t offsetPpm_ = 0;
    bool takingClock_ = false;  // latched at the start from ClockSource
    bool drivingClock_ = false; // latched at the start from bClockOutput
    uint64_t ticksAtStart_ = 0; // the line's count when a card on it started
    uint64_t ticksAtStop_ = 0;  // and when it stopped
    uint64_t scansTicked_ = 0;  // whole scans read and ticked, converting as read
    bool onBench_ = false;      // counted in the bench's cards on their own clock
    bool phasePending_ = false; // a card on the received clock learns its phase at its first read
    uint8_t statusOverrides_[protocol::kPacketSize] = {};
    bool statusOverridden_[protocol::kPacketSize] = {};
};

} // namespace kvd::vcard
