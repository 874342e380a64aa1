#include "facts/scan_rate.h"

#include <cmath>

#include "facts/card_limits.h"

namespace kvd::facts {

uint32_t periodDivider(int32_t frequency) {
    if (frequency <= 0)
        return 0;
    return static_cast<uint32_t>(static_cast<int64_t>(double(kTimeBaseHz) / double(frequency)));
}

double cardSampleRate(int32_t frequency) {
    const uint32_t divider = periodDivider(frequency);
    return double(kTimeBaseHz) / double(divider != 0 ? divider : 1);
}

std::optional<int32_t> frequencyForScans(double scansASecond, int32_t channels) {
    const double samples = scansASecond * double(channels);
    if (!std::isfinite(samples) || samples > double(kTimeBaseHz))
        return std::nullopt;
    const auto frequency = static_cast<int32_t>(std::llround(samples));
    if (frequency < 1)
        return std::nullopt;
    return frequency;
}

} // namespace kvd::facts
