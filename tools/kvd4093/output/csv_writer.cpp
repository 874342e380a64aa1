#include "output/csv_writer.h"

#include "output/csv_text.h"

namespace kvd::tool {

CsvWriter::CsvWriter(std::string path) : FileSink(std::move(path)) {}

namespace {

// A column name with a quote in it is quoted, its quotes doubled (RFC 4180);
// a unit holds no comma.
std::string columnName(const std::string &name) {
    if (name.find('"') == std::string::npos)
        return name;
    std::string quoted = "\"";
    for (const char c : name)
        quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

} // namespace

std::string CsvWriter::header(const AcquisitionInfo &info) {
    const std::string unit = info.scale.unit.empty() ? "" : "_" + info.scale.unit;
    std::string line = "scan,time_s";
    for (uint32_t i = 0; i < info.channelCount(); ++i)
        line += "," + columnName(info.columnName(i) + unit);
    return line + "\n";
}

void CsvWriter::begin(const AcquisitionInfo &info) {
    info_ = info;
    valueChars_ = csv::valueChars(info.scale);
    file().write(header(info));
    file().flush(); // the header is there from the start
}

void CsvWriter::write(const uint16_t *samples, uint64_t firstScan, size_t scans) {
    if (scans == 0)
        return;
    const uint32_t channels = info_.channelCount();
    char *text = text_.room(scans * csv::lineBound(firstScan + scans - 1, info_.scanRate(), channels, valueChars_));
    const char *end =
        info_.scale.given
            ? csv::putScaledScans(text, samples, firstScan, scans, channels, info_.scanRate(), info_.scale)
            : csv::putScans(text, samples, firstScan, scans, channels, info_.scanRate());
    text_ = behind_.write(std::move(text_), size_t(end - text));
}

void CsvWriter::gap(uint64_t firstScan, uint64_t scansLost) {
    behind_.wait();
    file().write("# " + std::to_string(scansLost) + " scans lost from scan " + std::to_string(firstScan) + "\n");
}

} // namespace kvd::tool
