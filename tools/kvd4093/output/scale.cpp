#include "output/scale.h"

#include <cmath>
#include <cstdlib>
#include <optional>
#include <vector>

#include "common/errors.h"

namespace kvd::tool {
namespace {

constexpr int kMostDecimals = 15;
// A double holds any 15 significant digits exactly (DBL_DIG), so the scale
// every format records, as decimal text or as a double, is the one given.
constexpr int kMostDigits = 15;
constexpr size_t kMostUnitBytes = 32;
constexpr int64_t kHighestCode = 65535;

// A decimal number as units x 10^-decimals.
struct Decimal {
    int64_t units = 0;
    int decimals = 0;
};

int64_t powerOfTen(int exponent) {
    int64_t power = 1;
    while (exponent-- > 0)
        power *= 10;
    return power;
}

// [+-]digits[.digits][e[+-]digits], trailing zeros of the fraction dropped.
std::optional<Decimal> parseDecimal(std::string_view text) {
    size_t at = 0;
    const bool negative = at < text.size() && text[at] == '-';
    at += at < text.size() && (text[at] == '-' || text[at] == '+');
    Decimal number;
    int digits = 0, fractionDigits = 0;
    bool sawDigit = false, inFraction = false;
    for (; at < text.size(); ++at) {
        const char c = text[at];
        if (c == '.' && !inFraction) {
            inFraction = true;
            continue;
        }
        if (c < '0' || c > '9')
            break;
        sawDigit = true;
        if (number.units == 0 && c == '0' && !inFraction)
            continue;
        if (++digits > kMostDigits)
            return std::nullopt;
        number.units = number.units * 10 + (c - '0');
        fractionDigits += inFraction;
    }
    if (!sawDigit)
        return std::nullopt;
    int exponent = 0;
    if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
        char *end = nullptr;
        const std::string tail(text.substr(at + 1));
        const long value = std::strtol(tail.c_str(), &end, 10);
        if (tail.empty() || *end != '\0' || value < -100 || value > 100)
            return std::nullopt;
        exponent = int(value);
        at = text.size();
    }
    if (at != text.size())
        return std::nullopt;
    number.decimals = fractionDigits - exponent;
    while (number.decimals > 0 && number.units % 10 == 0 && number.units != 0) {
        number.units /= 10;
        --number.decimals;
    }
    if (number.units == 0)
        number.decimals = 0;
    for (; number.decimals < 0; ++number.decimals) {
        if (number.units > INT64_MAX / 10)
            return std::nullopt;
        number.units *= 10;
    }
    if (number.decimals > kMostDecimals)
        return std::nullopt;
    if (negative)
        number.units = -number.units;
    return number;
}

// units x 10^-decimals as text: "-0.000305", "12".
std::string decimalText(int64_t units, int decimals) {
    std::string digits = std::to_string(units < 0 ? -uint64_t(units) : uint64_t(units));
    if (decimals > 0) {
        if (digits.size() <= size_t(decimals))
            digits = std::string(size_t(decimals) + 1 - digits.size(), '0') + digits;
        const size_t point = digits.size() - size_t(decimals);
        digits = digits.substr(0, point) + "." + digits.substr(point);
    }
    return (units < 0 ? "-" : "") + digits;
}

bool validUnit(std::string_view unit) {
    if (unit.size() > kMostUnitBytes)
        return false;
    for (const char c : unit) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F || c == ',')
            return false;
    }
    return true;
}

std::vector<std::string_view> fieldsOf(std::string_view text) {
    std::vector<std::string_view> fields;
    for (size_t start = 0;;) {
        const size_t comma = text.find(',', start);
        fields.push_back(text.substr(start, comma == std::string_view::npos ? comma : comma - start));
        if (comma == std::string_view::npos)
            return fields;
        start = comma + 1;
    }
}

// Both numbers over one power of ten, with room for code x gain + offset.
std::optional<Scale> makeScale(Decimal gain, Decimal offset, std::string_view unit) {
    Scale scale;
    scale.given = true;
    scale.decimals = std::max(gain.decimals, offset.decimals);
    const int64_t gainFactor = powerOfTen(scale.decimals - gain.decimals);
    const int64_t offsetFactor = powerOfTen(scale.decimals - offset.decimals);
    const int64_t limit = INT64_MAX / 2;
    if (std::llabs(gain.units) > limit / gainFactor / kHighestCode ||
        std::llabs(offset.units) > limit / offsetFactor)
        return std::nullopt;
    scale.gainUnits = gain.units * gainFactor;
    scale.offsetUnits = offset.units * offsetFactor;
    scale.gainText = decimalText(gain.units, gain.decimals);
    scale.offsetText = decimalText(offset.units, offset.decimals);
    scale.gain = std::strtod(scale.gainText.c_str(), nullptr);
    scale.offset = std::strtod(scale.offsetText.c_str(), nullptr);
    scale.unit = unit;
    return scale;
}

[[noreturn]] void badScale(std::string_view text, const std::string &why) {
    throw UsageError("--scale: \"" + std::string(text) + "\" " + why +
                     " (give GAIN[,OFFSET][,UNIT], e.g. 0.000305,-10,V)");
}

} // namespace

Scale parseScale(std::string_view text) {
    const std::vector<std::string_view> fields = fieldsOf(text);
    if (fields.size() > 3)
        badScale(text, "has more than three fields");
    const std::optional<Decimal> gain = parseDecimal(fields[0]);
    if (!gain)
        badScale(text, "has no gain of at most " + std::to_string(kMostDigits) + " digits and " +
                           std::to_string(kMostDecimals) + " decimals");
    if (gain->units == 0)
        badScale(text, "has a gain of zero");
    // The second field is the offset when it is a number, else the unit.
    std::optional<Decimal> offset = Decimal{};
    std::string_view unit;
    if (fields.size() == 3) {
        offset = fields[1].empty() ? Decimal{} : parseDecimal(fields[1]);
        unit = fields[2];
    } else if (fields.size() == 2) {
        offset = parseDecimal(fields[1]);
        if (!offset) {
            offset = Decimal{};
            unit = fields[1];
        }
    }
    if (!offset)
        badScale(text, "has no offset of at most " + std::to_string(kMostDigits) + " digits and " +
                           std::to_string(kMostDecimals) + " decimals");
    if (!validUnit(unit))
        badScale(text, "has a unit that is not printable text of at most 32 bytes without a comma");
    const std::optional<Scale> scale = makeScale(*gain, *offset, unit);
    if (!scale)
        badScale(text, "gives values beyond 18 digits");
    return *scale;
}

Scale scaleFromText(std::string_view gain, std::string_view offset, std::string_view unit) {
    const std::optional<Decimal> gainNumber = parseDecimal(gain);
    const std::optional<Decimal> offsetNumber = parseDecimal(offset);
    std::optional<Scale> scale;
    if (gainNumber && offsetNumber && gainNumber->units != 0 && validUnit(unit))
        scale = makeScale(*gainNumber, *offsetNumber, unit);
    if (!scale)
        throw ToolError("the scale " + std::string(gain) + ", " + std::string(offset) + ", \"" + std::string(unit) +
                        "\" is not one --scale takes");
    return *scale;
}

} // namespace kvd::tool
