#include "output/bin_writer.h"

#include <cstdio>

#include "card/ad_fields.h"

namespace kvd::tool {
namespace {

std::string number(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

// [{"first_scan": 2000, "scans": 7500}, ...]
std::string gapsText(const std::vector<Gap> &gaps) {
    std::string text = "[";
    for (const Gap &gap : gaps)
        text += std::string(text.size() > 1 ? ", " : "") + "{\"first_scan\": " + std::to_string(gap.firstScan) +
                ", \"scans\": " + std::to_string(gap.scans) + "}";
    return text + "]";
}

std::string sidecarText(const AcquisitionInfo &info, const AcquisitionOutcome &outcome, const std::vector<Gap> &gaps) {
    std::string channels;
    for (uint32_t i = 0; i < info.channelCount(); ++i)
        channels += (i ? ", " : "") + std::to_string(info.channel(i));
    std::string record;
    for (const AdField &field : adFields())
        record += std::string(record.empty() ? "" : ", ") + "\"" + field.name + "\": " +
                  std::to_string(info.para.*field.member);
    const uint64_t samples = outcome.scans * info.channelCount();
    uint64_t lost = 0;
    for (const Gap &gap : gaps)
        lost += gap.scans;
    return "{\n"
           "  \"format\": \"kvd4093 samples\",\n"
           "  \"sample_encoding\": \"uint16 little-endian, offset binary (32768 is zero)\",\n"
           "  \"layout\": \"scans one after another, channels in the order listed; the scans of the gaps are "
           "missing\",\n"
           "  \"card\": {\"logical_number\": " + std::to_string(info.logicalNumber) +
           ", \"physical_id\": " + std::to_string(info.physicalId) + "},\n"
           "  \"channels\": [" + channels + "],\n"
           "  \"rate_hz\": " + number(info.sampleRate) + ",\n"
           "  \"scan_rate_hz\": " + number(info.scanRate()) + ",\n"
           "  \"start_time\": \"" + info.startTime + "\",\n"
           "  \"start_utc_ns\": " + std::to_string(info.startUtcNanoseconds) + ",\n"
           "  \"start_monotonic_ns\": " + std::to_string(info.startMonotonicNanoseconds) + ",\n"
           "  \"first_scan_after_start_s\": " + number(info.firstScanSeconds()) + ",\n"
           "  \"samples\": " + std::to_string(samples) + ",\n"
           "  \"scans\": " + std::to_string(outcome.scans) + ",\n"
           "  \"scans_lost\": " + std::to_string(lost) + ",\n"
           "  \"gaps\": " + gapsText(gaps) + ",\n"
           "  \"complete\": " + (info.continuous || outcome.scans + lost == info.plannedScans ? "true" : "false") +
           ",\n"
           "  \"ad_para\": {" + record + "}\n"
           "}\n";
}

} // namespace

BinWriter::BinWriter(std::string path) : file_(path) {
    if (path != kStandardOutput)
        sidecar_.emplace(sidecarPath(path));
}

void BinWriter::begin(const AcquisitionInfo &info) { info_ = info; }

// The buffer holds the bytes as they came off the card, least significant
// first, whatever this machine's byte order.
void BinWriter::write(const uint16_t *samples, uint64_t, size_t scans) {
    file_.write(samples, scans * info_.channelCount() * sizeof(uint16_t));
    file_.flush(); // a reader of the file or the pipe sees every block as it comes
}

void BinWriter::gap(uint64_t firstScan, uint64_t scansLost) { gaps_.push_back({firstScan, scansLost}); }

void BinWriter::finish(const AcquisitionOutcome &outcome) {
    file_.close();
    if (!sidecar_)
        return;
    sidecar_->write(sidecarText(info_, outcome, gaps_));
    sidecar_->close();
}

} // namespace kvd::tool
