// The text of CSV lines, written straight into a character buffer. These
// are the bytes std::to_chars gives (the integers in decimal, the time with
// std::chars_format::fixed and 7 decimals), made without its general
// floating-point path: the time column alone cost more than all the rest.
// With a scale, the values are code x gain + offset, exact to the scale's
// decimals, made from integers. Header-only, so that the benchmark and the
// tests take the same code.
#pragma once

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "output/scale.h"

namespace kvd::tool::csv {

// Seven decimals: the card's 100 ns time base.
constexpr int kTimeDecimals = 7;
constexpr double kTimeScale = 1e7;
// Below this, seconds x 10^7 is a whole number a double holds exactly.
constexpr double kExactSeconds = 9e8;

// The longest time std::to_chars can give: 309 integer digits, the point, 7 decimals.
constexpr size_t kMostTimeChars = 309 + 1 + kTimeDecimals;
constexpr int64_t kHighestCode = 65535;

namespace detail {

inline constexpr char kDigitPairs[] = "00010203040506070809"
                                      "10111213141516171819"
                                      "20212223242526272829"
                                      "30313233343536373839"
                                      "40414243444546474849"
                                      "50515253545556575859"
                                      "60616263646566676869"
                                      "70717273747576777879"
                                      "80818283848586878889"
                                      "90919293949596979899";

inline void putPair(char *out, uint32_t pair) { std::memcpy(out, kDigitPairs + 2 * pair, 2); }

// Exactly `count` digits of value (which has no more), zero-padded.
inline char *putFixedDigits(char *out, uint64_t value, int count) {
    char *end = out + count;
    char *at = end;
    while (at - out >= 2) {
        at -= 2;
        putPair(at, uint32_t(value % 100));
        value /= 100;
    }
    if (at != out)
        *out = char('0' + value);
    return end;
}

inline int digitCount(uint64_t value) {
    int count = 1;
    for (; value >= 10000; value /= 10000)
        count += 4;
    return count + (value >= 10) + (value >= 100) + (value >= 1000);
}

} // namespace detail

// The decimal digits of value; returns the end.
inline char *putUnsigned(char *out, uint64_t value) {
    const int count = detail::digitCount(value);
    char *end = out + count;
    char *at = end;
    while (value >= 100) {
        at -= 2;
        detail::putPair(at, uint32_t(value % 100));
        value /= 100;
    }
    if (value >= 10)
        detail::putPair(at - 2, uint32_t(value));
    else
        at[-1] = char('0' + value);
    return end;
}

// seconds with 7 decimals, as std::to_chars(..., std::chars_format::fixed, 7):
// the exact binary value rounded to the nearest 10^-7. The fast path takes
// the nearest whole number of 10^-7 s and checks it with the exact residual
// (one fused multiply-add); a value within a hair of a tie, or out of range,
// goes to std::to_chars.
inline char *putSeconds(char *out, double seconds) {
    if (seconds >= 0 && seconds < kExactSeconds) {
        const auto ticks = static_cast<uint64_t>(seconds * kTimeScale + 0.5);
        const double residual = std::fma(seconds, kTimeScale, -double(ticks));
        if (std::fabs(residual) < 0.4999) {
            constexpr uint64_t kTicksPerSecond = 10000000;
            out = putUnsigned(out, ticks / kTicksPerSecond);
            *out++ = '.';
            return detail::putFixedDigits(out, uint32_t(ticks % kTicksPerSecond), kTimeDecimals);
        }
    }
    return std::to_chars(out, out + 320, seconds, std::chars_format::fixed, kTimeDecimals).ptr;
}

// units x 10^-decimals with exactly `decimals` decimals: "-0.0030518".
// `power` is 10^decimals.
inline char *putFixed(char *out, int64_t units, int decimals, uint64_t power) {
    const uint64_t magnitude = units < 0 ? 0 - uint64_t(units) : uint64_t(units);
    if (units < 0)
        *out++ = '-';
    if (decimals == 0)
        return putUnsigned(out, magnitude);
    out = putUnsigned(out, magnitude / power);
    *out++ = '.';
    return detail::putFixedDigits(out, magnitude % power, decimals);
}

// The most characters one value takes: 5 for a code; for a scaled value its
// sign when some value is negative, its digits (at least one before the
// point) and the point.
inline size_t valueChars(const Scale &scale) {
    if (!scale.given)
        return 5;
    const int64_t low = scale.offsetUnits, high = kHighestCode * scale.gainUnits + scale.offsetUnits;
    const auto magnitude = [](int64_t units) { return units < 0 ? 0 - uint64_t(units) : uint64_t(units); };
    const int digits = std::max(detail::digitCount(std::max(magnitude(low), magnitude(high))), scale.decimals + 1);
    return size_t(std::min(low, high) < 0) + size_t(digits) + size_t(scale.decimals > 0);
}

// The longest line of any scan up to lastScan: its number, its time, the
// values, the commas and the newline. A block of lines needs no more than
// its scans times this.
inline size_t lineBound(uint64_t lastScan, double scanRate, uint32_t channels, size_t valueChars) {
    const double seconds = double(lastScan) / scanRate;
    // Rounded to 7 decimals the time may gain a digit: 9.99999999 is 10.0000000.
    const size_t timeChars = seconds < 1e18 ? size_t(detail::digitCount(uint64_t(seconds) + 1)) + 1 + kTimeDecimals
                                            : kMostTimeChars;
    return size_t(detail::digitCount(lastScan)) + 1 + timeChars + size_t(channels) * (1 + valueChars) + 1;
}

// A code as the card sent it: 16 bits, least significant byte first.
inline uint16_t codeAt(const uint16_t *wire) {
    unsigned char bytes[2];
    std::memcpy(bytes, wire, 2);
    return static_cast<uint16_t>(bytes[0] | bytes[1] << 8);
}

namespace detail {

template <typename PutValue>
inline char *putLines(char *out, const uint16_t *samples, uint64_t firstScan, size_t scans, uint32_t channels,
                      double scanRate, PutValue putValue) {
    for (size_t scan = 0; scan < scans; ++scan) {
        const uint64_t number = firstScan + scan;
        out = putUnsigned(out, number);
        *out++ = ',';
        out = putSeconds(out, double(number) / scanRate);
        const uint16_t *codes = samples + scan * channels;
        for (uint32_t channel = 0; channel < channels; ++channel) {
            *out++ = ',';
            out = putValue(out, codeAt(codes + channel));
        }
        *out++ = '\n';
    }
    return out;
}

} // namespace detail

// One line a scan: "scan,time_s,code,code,...\n", the time being scan /
// scanRate. `samples` holds `scans` scans of `channels` codes. `out` has room
// for scans x lineBound(firstScan + scans - 1, ...); returns the end.
inline char *putScans(char *out, const uint16_t *samples, uint64_t firstScan, size_t scans, uint32_t channels,
                      double scanRate) {
    return detail::putLines(out, samples, firstScan, scans, channels, scanRate,
                            [](char *at, uint16_t code) { return putUnsigned(at, code); });
}

// The same lines with each code as its value on the scale.
inline char *putScaledScans(char *out, const uint16_t *samples, uint64_t firstScan, size_t scans, uint32_t channels,
                            double scanRate, const Scale &scale) {
    uint64_t power = 1;
    for (int i = 0; i < scale.decimals; ++i)
        power *= 10;
    return detail::putLines(out, samples, firstScan, scans, channels, scanRate, [&](char *at, uint16_t code) {
        return putFixed(at, int64_t(code) * scale.gainUnits + scale.offsetUnits, scale.decimals, power);
    });
}

} // namespace kvd::tool::csv
