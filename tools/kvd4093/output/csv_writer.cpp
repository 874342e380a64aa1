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
    char *text = text_.room(scans * csv::maxLineChars(channels_));
    const char *end = csv::putScans(text, samples, firstScan, scans, channels_, scanRate_);
    text_ = behind_.write(std::move(text_), size_t(end - text));
}

void CsvWriter::gap(uint64_t firstScan, uint64_t scansLost) {
    behind_.wait();
    file_.write("# gap: first_scan=" + std::to_string(firstScan) + " scans_lost=" + std::to_string(scansLost) + "\n");
}

void CsvWriter::finish(const AcquisitionOutcome &) {
    behind_.wait();
    file_.close();
}

} // namespace kvd::tool
