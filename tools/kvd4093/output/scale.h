// A linear scale for those who know their front end: value = code x GAIN +
// OFFSET, in UNIT. Every format records it; CSV and sigrok sessions write
// the values. Without one, values stay the card's codes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kvd::tool {

struct Scale {
    bool given = false; // false: the values are the card's codes
    double gain = 1;
    double offset = 0;
    std::string unit;             // may be empty
    std::string gainText = "1";   // the numbers as decimal text, for the files' metadata
    std::string offsetText = "0";
    // The same numbers as exact integers: value x 10^decimals =
    // code x gainUnits + offsetUnits, so text of the values is exact and fast.
    int decimals = 0;
    int64_t gainUnits = 1;
    int64_t offsetUnits = 0;

    double value(uint16_t code) const { return code * gain + offset; }
};

// --scale GAIN[,OFFSET][,UNIT]: "0.000305,-10,V", "2.5,mV" (no offset),
// "1e-3". GAIN and OFFSET are decimal numbers of at most 15 digits and 15
// decimals; the unit is printable text without a comma. Throws UsageError.
Scale parseScale(std::string_view text);

// The scale a file's metadata recorded: numbers as decimal text.
Scale scaleFromText(std::string_view gain, std::string_view offset, std::string_view unit);

} // namespace kvd::tool
