// The ADPara record's fields in one table: the name each is saved under,
// the spelling of the tool's option, the value a card without saved settings
// loads, and how many bits of it reach the card. The library's parameter
// store and the tool's record options and narrowing warnings read this one
// table, and the Python package's test checks its own copy against it.
// C++ only, and not installed: it is part of neither the ABI nor the
// interface an application compiles against.
#pragma once

#include <cstddef>
#include <cstdint>

#include "KVD4093.h"

namespace kvd::fields {

struct AdField {
    const char *name;   // as in the record and the settings: "InputRange"
    const char *dashed; // the tool's option, lower case with dashes: "input-range"
    int32_t ADPara::*member;
    int32_t defaultValue;
    // The width of the bit field the card takes; 0 where the value is
    // converted before it travels (Frequency becomes a clock divider,
    // GroupInterval a count of 100 ns ticks).
    int bits;
};

// In the record's field order, which is also the order of the load.
inline constexpr AdField kAdFields[] = {
    {"CheckStsMode", "check-sts-mode", &ADPara::CheckStsMode, 0, 8},
    {"ADMode", "ad-mode", &ADPara::ADMode, 0, 1},
    {"FirstChannel", "first-channel", &ADPara::FirstChannel, 0, 8},
    {"LastChannel", "last-channel", &ADPara::LastChannel, 1, 8},
    {"Frequency", "frequency", &ADPara::Frequency, 25000, 0},
    {"InputRange", "input-range", &ADPara::InputRange, 0, 2},
    {"GroupInterval", "group-interval", &ADPara::GroupInterval, 1000, 0},
    {"LoopsOfGroup", "loops-of-group", &ADPara::LoopsOfGroup, 1, 16},
    {"Gains", "gains", &ADPara::Gains, 0, 2},
    {"TriggerMode", "trigger-mode", &ADPara::TriggerMode, 0, 2},
    {"TriggerSource", "trigger-source", &ADPara::TriggerSource, 0, 1},
    {"TriggerType", "trigger-type", &ADPara::TriggerType, 0, 1},
    {"TriggerDir", "trigger-dir", &ADPara::TriggerDir, 0, 2},
    {"TrigWindow", "trig-window", &ADPara::TrigWindow, 10, 8},
    {"GroundingMode", "grounding-mode", &ADPara::GroundingMode, 0, 1},
    {"ClockSource", "clock-source", &ADPara::ClockSource, 0, 1},
    {"bClockOutput", "clock-output", &ADPara::bClockOutput, 0, 1},
};
static_assert(sizeof(kAdFields) / sizeof(kAdFields[0]) * sizeof(int32_t) == sizeof(ADPara),
              "one entry per field of ADPara");

} // namespace kvd::fields
