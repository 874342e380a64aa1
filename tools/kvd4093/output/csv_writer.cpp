#include "output/csv_writer.h"

#include "output/csv_text.h"

namespace kvd::tool {

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
    text_.resize(scans * csv::maxLineChars(channels_));
    const char *end = csv::putScans(text_.data(), samples, firstScan, scans, channels_, scanRate_);
    file_.write(text_.data(), size_t(end - text_.data()));
    file_.flush(); // a reader of the file or the pipe sees every block as it comes
}

void CsvWriter::finish(const AcquisitionOutcome &) { file_.close(); }

} // namespace kvd::tool
