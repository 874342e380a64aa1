#include "platform/virtual/sample_stream.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace kvd::vcard {
namespace {

constexpr double kPi = 3.14159265358979323846;

double waveform(uint32_t channel, uint64_t scan) {
    const uint32_t group = channel / 4;
    const double amplitude = 0.9 / (1 + group);
    const uint64_t period = SampleStream::kScansPerPeriod >> (group % 4);
    const double phase = double(scan % period) / double(period);
    switch (channel % 4) {
    case 0: return amplitude * std::sin(2 * kPi * phase);
    case 1: return phase < 0.5 ? amplitude : -amplitude;
    case 2: return amplitude * (2 * phase - 1);
    default: return amplitude * std::sin(8 * kPi * phase);
    }
}

uint16_t code(double value) {
    const long scaled = std::lround(32768.0 + value * 32767.0);
    return static_cast<uint16_t>(std::clamp(scaled, 0L, 65535L));
}

uint32_t xorshift32(uint32_t &state) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}

} // namespace

uint16_t SampleStream::sampleAt(Signals signals, uint32_t channel, uint64_t scan) {
    if (signals == Signals::Counting)
        return static_cast<uint16_t>(channel << 12 | (scan & 0x0FFF));
    return code(waveform(channel, scan));
}

void SampleStream::setSignals(Signals signals, Noise noise) {
    signals_ = signals;
    noise_ = noise;
}

void SampleStream::start(uint8_t firstChannel, uint8_t lastChannel) {
    const uint32_t last = std::max(firstChannel, lastChannel);
    uint32_t random = noise_.seed != 0 ? noise_.seed : 1;
    const int32_t span = 2 * noise_.amplitude + 1;
    period_.clear();
    period_.reserve(size_t(kScansPerPeriod) * (last - firstChannel + 1) * 2);
    for (uint32_t scan = 0; scan < kScansPerPeriod; ++scan) {
        for (uint32_t channel = firstChannel; channel <= last; ++channel) {
            int32_t value = sampleAt(signals_, channel, scan);
            if (noise_.amplitude != 0)
                value = std::clamp(value + int32_t(xorshift32(random) % uint32_t(span)) - noise_.amplitude, 0, 65535);
            period_.push_back(static_cast<uint8_t>(value));
            period_.push_back(static_cast<uint8_t>(value >> 8));
        }
    }
    position_ = 0;
}

void SampleStream::read(uint8_t *out, uint32_t size) {
    if (period_.empty())
        start(0, 0);
    uint64_t offset = position_ % period_.size();
    for (uint32_t done = 0; done < size;) {
        const uint32_t chunk = static_cast<uint32_t>(std::min<uint64_t>(size - done, period_.size() - offset));
        std::memcpy(out + done, period_.data() + offset, chunk);
        done += chunk;
        offset = 0;
    }
    position_ += size + (size & 1);
}

} // namespace kvd::vcard
