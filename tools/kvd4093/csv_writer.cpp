#include "csv_writer.h"

#include <charconv>

namespace kvd::tool {
namespace {

// Seven decimals: the card's 100 ns time base.
constexpr int kTimeDecimals = 7;

template <typename Number> void append(std::string &text, Number value) {
    char digits[32];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    text.append(digits, result.ptr);
}

void appendTime(std::string &text, double seconds) {
    char digits[48];
    const auto result = std::to_chars(digits, digits + sizeof digits, seconds, std::chars_format::fixed, kTimeDecimals);
    text.append(digits, result.ptr);
}

} // namespace

CsvWriter::CsvWriter(std::string path) : file_(std::move(path)) {}

void CsvWriter::begin(const AcquisitionInfo &info) {
    channels_ = info.channelCount();
    scanRate_ = info.scanRate();
    std::string header = "scan,time_s";
    for (uint32_t i = 0; i < channels_; ++i)
        header += ",ch" + std::to_string(info.channel(i));
    header += '\n';
    file_.write(header);
    file_.flush(); // the file is there from the start
}

void CsvWriter::write(const uint16_t *samples, uint64_t firstScan, size_t scans) {
    text_.clear();
    for (size_t scan = 0; scan < scans; ++scan) {
        const uint64_t number = firstScan + scan;
        append(text_, number);
        text_ += ',';
        appendTime(text_, double(number) / scanRate_);
        for (uint32_t channel = 0; channel < channels_; ++channel) {
            text_ += ',';
            append(text_, sampleValue(samples[scan * channels_ + channel]));
        }
        text_ += '\n';
    }
    file_.write(text_);
}

void CsvWriter::finish(const AcquisitionOutcome &) { file_.close(); }

} // namespace kvd::tool
