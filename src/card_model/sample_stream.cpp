#include "card_model/sample_stream.h"

namespace kvd::vcard {
namespace {

constexpr double kPi = 3.14159265358979323846;

// sin(x) and cos(x) for x in [0, pi/4] by their Taylor series to x^17 and
// x^16 (the first term left out is below 1e-17), evaluated by Horner's rule:
// the kernel has no maths library to lend, and the compiler can evaluate
// these at build time.
constexpr double kInverseFactorial[] = {1.0,
                                        1.0,
                                        1.0 / 2,
                                        1.0 / 6,
                                        1.0 / 24,
                                        1.0 / 120,
                                        1.0 / 720,
                                        1.0 / 5040,
                                        1.0 / 40320,
                                        1.0 / 362880,
                                        1.0 / 3628800,
                                        1.0 / 39916800,
                                        1.0 / 479001600,
                                        1.0 / 6227020800,
                                        1.0 / 87178291200,
                                        1.0 / 1307674368000,
                                        1.0 / 20922789888000,
                                        1.0 / 355687428096000};

// The sum of (-1)^k x2^k / (first + 2k)! for k = 0 to 8.
constexpr double alternatingSeries(double x2, int first) {
    double sum = 0;
    for (int k = 8; k >= 0; --k)
        sum = (k % 2 ? -kInverseFactorial[first + 2 * k] : kInverseFactorial[first + 2 * k]) + x2 * sum;
    return sum;
}
constexpr double sineSeries(double x) { return x * alternatingSeries(x * x, 1); }
constexpr double cosineSeries(double x) { return alternatingSeries(x * x, 0); }

constexpr uint32_t kPeriod = SampleStream::kScansPerPeriod;

// sin(2 pi n / kPeriod), reduced by octants so that the series only ever
// sees arguments up to pi/4.
constexpr double sineOfTurn(uint32_t n) {
    constexpr uint32_t eighth = kPeriod / 8;
    const uint32_t rest = n % eighth;
    const auto angle = [](uint32_t part) { return 2 * kPi * double(part) / double(kPeriod); };
    switch (n / eighth) {
    case 0: return sineSeries(angle(rest));
    case 1: return cosineSeries(angle(eighth - rest));
    case 2: return cosineSeries(angle(rest));
    case 3: return sineSeries(angle(eighth - rest));
    case 4: return -sineSeries(angle(rest));
    case 5: return -cosineSeries(angle(eighth - rest));
    case 6: return -cosineSeries(angle(rest));
    default: return -sineSeries(angle(eighth - rest));
    }
}

// One period of the sine, computed when the library or driver is built.
struct SineTable {
    double value[kPeriod];
};
constexpr SineTable makeSineTable() {
    SineTable table{};
    for (uint32_t n = 0; n < kPeriod; ++n)
        table.value[n] = sineOfTurn(n);
    return table;
}
constexpr SineTable kSine = makeSineTable();

double waveform(uint32_t channel, uint64_t scan) {
    const uint32_t group = channel / 4;
    const double amplitude = 0.9 / (1 + group);
    const uint32_t shift = group % 4; // the period is kPeriod >> shift scans
    const uint64_t period = kPeriod >> shift;
    const uint64_t step = scan % period;
    const double phase = double(step) / double(period);
    switch (channel % 4) {
    case 0: return amplitude * kSine.value[step << shift];
    case 1: return phase < 0.5 ? amplitude : -amplitude;
    case 2: return amplitude * (2 * phase - 1);
    default: return amplitude * kSine.value[(4 * step << shift) % kPeriod];
    }
}

int32_t clampCode(int64_t value) { return value < 0 ? 0 : value > 65535 ? 65535 : int32_t(value); }

// Rounds half away from zero, as lround does; the codes are never negative
// before clamping by more than a rounding step.
uint16_t code(double value) {
    const double scaled = 32768.0 + value * 32767.0;
    const int64_t rounded = scaled >= 0 ? int64_t(scaled + 0.5) : -int64_t(-scaled + 0.5);
    return static_cast<uint16_t>(clampCode(rounded));
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
    if (started_)
        computePeriod();
}

void SampleStream::setPeriodStorage(uint8_t *storage, uint32_t capacity) {
    period_ = storage;
    periodCapacity_ = capacity;
    periodBytes_ = 0;
}

void SampleStream::start(uint8_t firstChannel, uint8_t lastChannel) {
    firstChannel_ = firstChannel;
    channels_ = (lastChannel > firstChannel ? lastChannel : firstChannel) - firstChannel + 1u;
    delivered_ = 0;
    inPeriod_ = 0;
    phase_ = 0;
    random_ = noise_.seed != 0 ? noise_.seed : 1;
    started_ = true;
    computePeriod();
}

void SampleStream::setPhase(uint64_t scan) {
    const auto phase = static_cast<uint32_t>(scan % kScansPerPeriod);
    if (phase == phase_)
        return;
    phase_ = phase;
    if (started_)
        computePeriod();
}

// Fills the lent storage with one period from its start; the stream's own
// place is left as it was.
void SampleStream::computePeriod() {
    periodBytes_ = 0;
    const uint32_t bytes = kScansPerPeriod * channels_ * 2;
    if (period_ == nullptr || bytes > periodCapacity_)
        return;
    const uint64_t delivered = delivered_;
    const uint32_t inPeriod = inPeriod_;
    const uint32_t random = random_;
    inPeriod_ = 0;
    random_ = noise_.seed != 0 ? noise_.seed : 1;
    for (uint32_t at = 0; at < bytes; at += 2) {
        const uint16_t sample = nextSample();
        period_[at] = static_cast<uint8_t>(sample);
        period_[at + 1] = static_cast<uint8_t>(sample >> 8);
    }
    delivered_ = delivered;
    inPeriod_ = inPeriod;
    random_ = random;
    periodBytes_ = bytes;
}

// The same bytes as computing each sample: an odd size ends on the low byte
// of a sample, and the stream moves on past that sample.
void SampleStream::copyFromPeriod(uint8_t *out, uint32_t size) {
    uint32_t offset = static_cast<uint32_t>((delivered_ * 2) % periodBytes_);
    for (uint32_t done = 0; done < size;) {
        const uint32_t chunk = size - done < periodBytes_ - offset ? size - done : periodBytes_ - offset;
        __builtin_memcpy(out + done, period_ + offset, chunk); // the kernel lends memcpy too
        done += chunk;
        offset = 0;
    }
    delivered_ += (uint64_t(size) + 1) / 2;
}

uint16_t SampleStream::nextSample() {
    const uint32_t scan = inPeriod_ / channels_;
    const uint32_t signalScan = signals_ == Signals::Waveforms ? scan + phase_ : scan;
    int32_t value = sampleAt(signals_, firstChannel_ + inPeriod_ % channels_, signalScan);
    if (noise_.amplitude != 0) {
        const uint32_t span = 2u * noise_.amplitude + 1;
        value = clampCode(int64_t(value) + int64_t(xorshift32(random_) % span) - noise_.amplitude);
    }
    ++delivered_;
    if (++inPeriod_ == kScansPerPeriod * channels_) {
        inPeriod_ = 0;
        random_ = noise_.seed != 0 ? noise_.seed : 1;
    }
    return static_cast<uint16_t>(value);
}

uint32_t SampleStream::noiseStateAt(uint32_t inPeriod) const {
    uint32_t state = noise_.seed != 0 ? noise_.seed : 1;
    if (noise_.amplitude != 0)
        for (uint32_t i = 0; i < inPeriod; ++i)
            xorshift32(state);
    return state;
}

void SampleStream::skip(uint64_t count) {
    if (!started_)
        start(0, 0);
    const uint64_t periodSamples = uint64_t(kScansPerPeriod) * channels_;
    delivered_ += count;
    inPeriod_ = static_cast<uint32_t>((inPeriod_ + count % periodSamples) % periodSamples);
    random_ = noiseStateAt(inPeriod_);
}

void SampleStream::read(uint8_t *out, uint32_t size) {
    if (!started_)
        start(0, 0);
    if (periodBytes_ != 0) {
        copyFromPeriod(out, size);
        return;
    }
    for (uint32_t done = 0; done < size; done += 2) {
        const uint16_t sample = nextSample();
        out[done] = static_cast<uint8_t>(sample);
        if (done + 1 < size)
            out[done + 1] = static_cast<uint8_t>(sample >> 8);
    }
}

} // namespace kvd::vcard
