#include "narrowing.h"

#include <cstdint>

namespace kvd::tool {
namespace {

struct FieldBits {
    const char *name;
    int32_t ADPara::*member;
    int bits;
};

// Every field the card takes as a bit field, with its width.
constexpr FieldBits kFieldBits[] = {
    {"CheckStsMode", &ADPara::CheckStsMode, 8},   {"ADMode", &ADPara::ADMode, 1},
    {"FirstChannel", &ADPara::FirstChannel, 8},   {"LastChannel", &ADPara::LastChannel, 8},
    {"InputRange", &ADPara::InputRange, 2},       {"LoopsOfGroup", &ADPara::LoopsOfGroup, 16},
    {"Gains", &ADPara::Gains, 2},                 {"TriggerMode", &ADPara::TriggerMode, 2},
    {"TriggerSource", &ADPara::TriggerSource, 1}, {"TriggerType", &ADPara::TriggerType, 1},
    {"TriggerDir", &ADPara::TriggerDir, 2},       {"TrigWindow", &ADPara::TrigWindow, 8},
    {"GroundingMode", &ADPara::GroundingMode, 1}, {"ClockSource", &ADPara::ClockSource, 1},
    {"bClockOutput", &ADPara::bClockOutput, 1},
};

// The card counts the group interval (microseconds) in 100 ns ticks: the
// truncated product by 10, of which the low 32 bits travel.
constexpr int64_t kTicksPerMicrosecond = 10;

std::string bitsText(int bits) { return std::to_string(bits) + (bits == 1 ? " bit" : " bits"); }

} // namespace

std::vector<std::string> narrowedFields(const ADPara &para) {
    std::vector<std::string> lines;
    for (const FieldBits &field : kFieldBits) {
        const int32_t given = para.*field.member;
        const uint32_t reaches = static_cast<uint32_t>(given) & ((uint32_t(1) << field.bits) - 1);
        if (int64_t(reaches) != int64_t(given))
            lines.push_back(std::string(field.name) + " " + std::to_string(given) + " reaches the card as " +
                            std::to_string(reaches) + " (" + bitsText(field.bits) + ")");
    }
    const int64_t ticks = static_cast<int64_t>(double(para.GroupInterval) * double(kTicksPerMicrosecond));
    const uint32_t sentTicks = static_cast<uint32_t>(ticks);
    if (int64_t(sentTicks) != ticks)
        lines.push_back("GroupInterval " + std::to_string(para.GroupInterval) + " reaches the card as " +
                        std::to_string(sentTicks) + " ticks of 100 ns, not " + std::to_string(ticks));
    return lines;
}

} // namespace kvd::tool
