// The text of CSV lines, written straight into a character buffer. These
// are the bytes std::to_chars gives (the integers in decimal, the time with
// std::chars_format::fixed and 7 decimals), made without its general
// floating-point path: the time column alone cost more than all the rest.
// Header-only, so that the benchmark and the tests take the same code.
#pragma once

#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace kvd::tool::csv {

// Seven decimals: the card's 100 ns time base.
constexpr int kTimeDecimals = 7;
constexpr double kTimeScale = 1e7;
// Below this, seconds x 10^7 is a whole number a double holds exactly.
constexpr double kExactSeconds = 9e8;

// The longest line: a 20-digit scan number, a time of up to 309 integer
// digits and 7 decimals, 5 digits a channel, the commas and the newline.
constexpr size_t maxLineChars(uint32_t channels) { return 20 + 1 + 318 + size_t(channels) * 6 + 1; }

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
inline char *putFixedDigits(char *out, uint32_t value, int count) {
    char *end = out + count;
    char *at = end;
    while (at - out >= 2) {
        at -= 2;
        putPair(at, value % 100);
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

// A code as the card sent it: 16 bits, least significant byte first.
inline uint16_t codeAt(const uint16_t *wire) {
    unsigned char bytes[2];
    std::memcpy(bytes, wire, 2);
    return static_cast<uint16_t>(bytes[0] | bytes[1] << 8);
}

// One line a scan: "scan,time_s,code,code,...\n", the time being scan /
// scanRate. `samples` holds `scans` scans of `channels` codes. `out` has room
// for scans x maxLineChars(channels); returns the end.
inline char *putScans(char *out, const uint16_t *samples, uint64_t firstScan, size_t scans, uint32_t channels,
                      double scanRate) {
    for (size_t scan = 0; scan < scans; ++scan) {
        const uint64_t number = firstScan + scan;
        out = putUnsigned(out, number);
        *out++ = ',';
        out = putSeconds(out, double(number) / scanRate);
        const uint16_t *codes = samples + scan * channels;
        for (uint32_t channel = 0; channel < channels; ++channel) {
            *out++ = ',';
            out = putUnsigned(out, codeAt(codes + channel));
        }
        *out++ = '\n';
    }
    return out;
}

} // namespace kvd::tool::csv
