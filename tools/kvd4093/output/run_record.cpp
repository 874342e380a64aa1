#include "output/run_record.h"

namespace kvd::tool {

uint64_t RunRecord::scansLost() const {
    uint64_t lost = 0;
    for (const ScanGap &gap : gaps)
        lost += gap.scansLost;
    return lost;
}

bool RunRecord::complete() const { return info.continuous || scans + scansLost() == info.plannedScans; }

std::vector<int32_t> RunRecord::channels() const {
    std::vector<int32_t> numbers;
    for (uint32_t i = 0; i < info.channelCount(); ++i)
        numbers.push_back(info.channel(i));
    return numbers;
}

} // namespace kvd::tool
