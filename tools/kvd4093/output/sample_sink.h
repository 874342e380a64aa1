// Where the scans of an acquisition go: files, a plot, the summary.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "KVD4093.h"
#include "output/scale.h"
#include "facts/card_limits.h"

namespace kvd::tool {

// One card of a group, as the outputs name it.
struct GroupCard {
    int32_t logicalNumber = 0;
    int32_t physicalId = 0;
};

// What is known before the first scan.
struct AcquisitionInfo {
    ADPara para{};
    int32_t logicalNumber = 0;
    int32_t physicalId = 0;
    std::string cardVersion;   // the firmware version as `kvd4093 list` shows it, or empty
    double sampleRate = 0;     // samples a second of all channels of a card together, as the card runs
    uint64_t plannedScans = 0; // scans asked for; 0 when continuous
    bool continuous = false;   // runs until a stop signal
    std::string startTime;     // UTC, ISO 8601
    Scale scale;               // --scale, recorded by every format
    // A group of cards, the clock's driver first; empty for one card. Every
    // card scans the same channels, and a scan holds them card after card.
    std::vector<GroupCard> groupCards;
    // The start, startTime, as the host's clocks read it together just
    // before the card is started: nanoseconds since the epoch of UTC and of
    // the monotonic clock (std::chrono::steady_clock: Linux's
    // CLOCK_MONOTONIC). Scan k of the outputs was converted about
    // firstScanSeconds() + k / scanRate() seconds after it.
    int64_t startUtcNanoseconds = 0;
    int64_t startMonotonicNanoseconds = 0;

    // The card takes the low 8 bits of each channel number, so the record's
    // channels 0-300 scan channels 0 to 44.
    int32_t firstChannel() const { return para.FirstChannel & 0xFF; }
    int32_t lastChannel() const { return para.LastChannel & 0xFF; }
    uint32_t channelsPerCard() const { return uint32_t(lastChannel() - firstChannel() + 1); }
    uint32_t cardCount() const { return groupCards.empty() ? 1 : uint32_t(groupCards.size()); }
    // The samples of one scan: every card's channels.
    uint32_t channelCount() const { return channelsPerCard() * cardCount(); }
    int32_t channel(uint32_t index) const { return firstChannel() + int32_t(index % channelsPerCard()); }
    // "ch3"; of a group "ID9:ch3", the physical ID of the sample's card.
    std::string columnName(uint32_t index) const {
        const std::string name = "ch" + std::to_string(channel(index));
        return groupCards.empty() ? name
                                  : "ID" + std::to_string(groupCards[index / channelsPerCard()].physicalId) + ":" + name;
    }
    // sampleRate is each card's: all cards convert on the same clock.
    double scanRate() const { return sampleRate / channelsPerCard(); }
    // The set-up's 512 samples take this many scans (the last perhaps in
    // part) before scan 0 of the outputs.
    uint32_t setUpScans() const { return (facts::kSetUpSamples + channelsPerCard() - 1) / channelsPerCard(); }
    double firstScanSeconds() const { return double(setUpScans()) / scanRate(); }
};

// Scans that never reached the sinks: scans firstScan to firstScan +
// scansLost - 1 were lost.
struct ScanGap {
    uint64_t firstScan = 0;
    uint64_t scansLost = 0;
    bool cardAway = false; // not read because the card was pulled out, not dropped
};

// What the acquisition delivered in the end.
struct AcquisitionOutcome {
    uint64_t scans = 0;       // whole scans delivered to the sinks
    int stopSignal = 0;       // the signal that ended the acquisition (system.h), or 0
    double seconds = 0;       // wall-clock time from the start to the stop
    bool overrun = false;     // stopped because the outputs could not keep up
    uint64_t scansLost = 0;   // dropped because the outputs could not keep up, or not read while the card was away
    uint64_t gapCount = 0;    // the gaps they left
    uint64_t scansAway = 0;   // of scansLost, those of a card pulled out and taken back
    uint64_t awayGaps = 0;    // of gapCount, their gaps
    std::vector<ScanGap> firstGaps; // the first of those gaps, at most kListedGaps
    uint64_t largestBacklog = 0;    // the most scans the reads were behind the card's clock

    static constexpr size_t kListedGaps = 10;

    bool stoppedBySignal() const { return stopSignal != 0; }
    // False when the run failed before its first scan (the card refused the
    // set-up, the first read failed): the files are then dropped and
    // whatever was at their paths stays as it was. A stop asked for keeps
    // them, however little they hold.
    bool keepsFiles() const { return scans > 0 || stoppedBySignal(); }
};

class SampleSink {
public:
    virtual ~SampleSink() = default;
    virtual void begin(const AcquisitionInfo &info) = 0;
    // `scans` whole scans, channelCount() samples each, in channel order;
    // `firstScan` counts from 0 at the first scan delivered.
    virtual void write(const uint16_t *samples, uint64_t firstScan, size_t scans) = 0;
    // Scans the card converted that never reached the sinks (dropped to keep
    // up): the next write starts at firstScan + scansLost. A format that can
    // record it says so in the file; the others leave the hole unmarked.
    virtual void gap(uint64_t firstScan, uint64_t scansLost) {
        (void)firstScan;
        (void)scansLost;
    }
    // Called once at the end, also after a stop or a failed read: whatever
    // was written must make a complete file.
    virtual void finish(const AcquisitionOutcome &outcome) = 0;
};

// A sample as the card sent it: 16 bits, least significant byte first.
inline uint16_t sampleValue(uint16_t wire) {
    const auto *bytes = reinterpret_cast<const uint8_t *>(&wire);
    return static_cast<uint16_t>(bytes[0] | bytes[1] << 8);
}

} // namespace kvd::tool
