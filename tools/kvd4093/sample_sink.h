// Where the scans of an acquisition go: files, a plot, the summary.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "KVD4093.h"

namespace kvd::tool {

// What is known before the first scan.
struct AcquisitionInfo {
    ADPara para{};
    int32_t logicalNumber = 0;
    int32_t physicalId = 0;
    double sampleRate = 0;     // samples a second of all channels together, as the card runs
    uint64_t plannedScans = 0; // scans asked for
    std::string startTime;     // UTC, ISO 8601

    uint32_t channelCount() const { return uint32_t(para.LastChannel - para.FirstChannel + 1); }
    int32_t channel(uint32_t index) const { return para.FirstChannel + int32_t(index); }
    double scanRate() const { return sampleRate / channelCount(); }
};

// What the acquisition delivered in the end.
struct AcquisitionOutcome {
    uint64_t scans = 0;       // whole scans delivered to the sinks
    bool interrupted = false; // stopped by Ctrl-C before all planned scans came
    double seconds = 0;       // wall-clock time from the start to the stop
};

class SampleSink {
public:
    virtual ~SampleSink() = default;
    virtual void begin(const AcquisitionInfo &info) = 0;
    // `scans` whole scans, channelCount() samples each, in channel order;
    // `firstScan` counts from 0 at the first scan delivered.
    virtual void write(const uint16_t *samples, uint64_t firstScan, size_t scans) = 0;
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
