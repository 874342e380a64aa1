#include "card/narrowing.h"

#include <cstdint>

#include "KVD4093_ad_fields.h"

namespace kvd::tool {
namespace {

// The card counts the group interval (microseconds) in 100 ns ticks: the
// truncated product by 10, of which the low 32 bits travel.
constexpr int64_t kTicksPerMicrosecond = 10;

std::string bitsText(int bits) { return std::to_string(bits) + (bits == 1 ? " bit" : " bits"); }

} // namespace

std::vector<std::string> narrowedFields(const ADPara &para) {
    std::vector<std::string> lines;
    for (const fields::AdField &field : fields::kAdFields) {
        if (field.bits == 0)
            continue;
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
