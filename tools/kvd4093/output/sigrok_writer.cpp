#include "output/sigrok_writer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>

#include <zip.h>

#include "common/errors.h"

namespace kvd::tool {
namespace {

// Each member of the archive holds this many values of one channel (64 MiB):
// few members, whose bookkeeping libzip keeps in memory, however long the run.
constexpr uint64_t kChunkValues = uint64_t(16) << 20;
constexpr char kVersion[] = "2";

// The start time (ISO 8601, UTC) as the members' modification time, so that
// the same acquisition always gives the same bytes.
time_t startSeconds(const std::string &startTime) {
    std::tm parts{};
    if (std::sscanf(startTime.c_str(), "%d-%d-%dT%d:%d:%d", &parts.tm_year, &parts.tm_mon, &parts.tm_mday,
                    &parts.tm_hour, &parts.tm_min, &parts.tm_sec) != 6)
        return 0;
    parts.tm_year -= 1900;
    parts.tm_mon -= 1;
#if defined(_WIN32)
    return _mkgmtime(&parts);
#else
    return timegm(&parts);
#endif
}

std::string archiveError(zip_t *archive) {
    zip_error_t *error = zip_get_error(archive);
    if (zip_error_system_type(error) == ZIP_ET_SYS && zip_error_code_system(error) != 0)
        return std::strerror(zip_error_code_system(error));
    return zip_error_strerror(error);
}

// A text as a value of the key file: GLib reads a backslash as the start of
// an escape, so one stands for itself doubled.
std::string keyFileValue(const std::string &text) {
    std::string value;
    for (const char c : text)
        value += c == '\\' ? std::string("\\\\") : std::string(1, c);
    return value;
}

// The digits that give the double back.
std::string exactNumber(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

const char *truth(bool value) { return value ? "true" : "false"; }

// A GLib key file's list of integers: " 5000;9000;", empty without gaps.
std::string gapList(const std::vector<ScanGap> &gaps, uint64_t ScanGap::*field) {
    std::string list = gaps.empty() ? "" : " ";
    for (const ScanGap &gap : gaps)
        list += std::to_string(gap.*field) + ";";
    return list;
}

// A group's cards, the clock's driver first: "group physical ids = 7,9".
std::string groupLines(const AcquisitionInfo &info) {
    if (info.groupCards.empty())
        return "";
    std::string logical, physical;
    for (const GroupCard &card : info.groupCards) {
        logical += (logical.empty() ? "" : ",") + std::to_string(card.logicalNumber);
        physical += (physical.empty() ? "" : ",") + std::to_string(card.physicalId);
    }
    return "group logical numbers = " + logical + "\ngroup physical ids = " + physical + "\n";
}

// The member of a column: "ch3", of a group "ID9_ch3" (no colon in a file name).
std::string memberName(const AcquisitionInfo &info, uint32_t index) {
    std::string name = info.columnName(index);
    std::replace(name.begin(), name.end(), ':', '_');
    return name;
}

} // namespace

// The staged file is made empty and closed: libzip writes the archive.
SigrokWriter::SigrokWriter(std::string path) : FileSink(std::move(path)) { file().close(); }

// sigrok's sample rate is a whole number of hertz (at least 1); the run's
// record, the exact rates among it, is kept beside it in a group sigrok
// passes over.
std::string SigrokWriter::metadata(const RunRecord &run) {
    const AcquisitionInfo &info = run.info;
    std::string text = "[device 1]\n"
                       "samplerate = " +
                       std::to_string(std::max(1LL, std::llround(info.scanRate()))) + " Hz\n" +
                       "total analog = " + std::to_string(info.channelCount()) + "\n";
    for (uint32_t i = 0; i < info.channelCount(); ++i)
        text += "analog" + std::to_string(i + 1) + " = " + info.columnName(i) + "\n";
    text += "\n[kvd4093]\n"
            "scan rate hz = " + exactNumber(info.scanRate()) + "\n" +
            "sample rate hz = " + exactNumber(info.sampleRate) + "\n" +
            "card logical number = " + std::to_string(info.logicalNumber) + "\n" +
            "card physical id = " + std::to_string(info.physicalId) + "\n" +
            "card version = " + keyFileValue(info.cardVersion) + "\n" + groupLines(info) +
            "start time = " + keyFileValue(info.startTime) + "\n" +
            "start utc ns = " + std::to_string(info.startUtcNanoseconds) + "\n" +
            "start monotonic ns = " + std::to_string(info.startMonotonicNanoseconds) + "\n" +
            "first scan after start s = " + exactNumber(info.firstScanSeconds()) + "\n" +
            "scans = " + std::to_string(run.scans) + "\n" +
            "planned scans = " + std::to_string(info.plannedScans) + "\n" +
            "continuous = " + truth(info.continuous) + "\n" +
            "complete = " + truth(run.complete()) + "\n";
    text += "gap first scans =" + gapList(run.gaps, &ScanGap::firstScan) + "\n" +
            "gap scans lost =" + gapList(run.gaps, &ScanGap::scansLost) + "\n";
    if (info.scale.given)
        text += "scale gain = " + info.scale.gainText + "\nscale offset = " + info.scale.offsetText +
                "\nunit = " + keyFileValue(info.scale.unit) + "\n";
    else
        text += "unit = code\n";
    return text;
}

void SigrokWriter::begin(const AcquisitionInfo &info) {
    info_ = info;
    valueOfCode_.resize(65536);
    for (uint32_t code = 0; code < valueOfCode_.size(); ++code)
        valueOfCode_[code] = float(info.scale.value(uint16_t(code)));
    for (uint32_t i = 0; i < info.channelCount(); ++i)
        channels_.push_back(
            std::make_unique<OutputFile>(file().path() + "." + memberName(info, i), file().path()));
}

void SigrokWriter::write(const uint16_t *samples, uint64_t, size_t scans) {
    const uint32_t channels = info_.channelCount();
    values_.resize(scans);
    try {
        for (uint32_t channel = 0; channel < channels; ++channel) {
            for (size_t scan = 0; scan < scans; ++scan)
                values_[scan] = valueOfCode_[sampleValue(samples[scan * channels + channel])];
            channels_[channel]->write(values_.data(), scans * sizeof(float));
        }
    } catch (const ToolError &) {
        failed_ = true;
        throw;
    }
    scans_ += scans;
}

void SigrokWriter::gap(uint64_t firstScan, uint64_t scansLost) { gaps_.push_back({firstScan, scansLost}); }

void SigrokWriter::complete() {
    for (const auto &channel : channels_)
        channel->close();
    writeArchive();
}

// The members in the order sigrok reads them: every chunk of the first
// channel, then of the second, and so on. libzip reads each chunk from its
// channel's file when it closes the archive.
void SigrokWriter::writeArchive() {
    int openError = 0;
    zip_t *archive = zip_open(file().writtenPath().c_str(), ZIP_CREATE | ZIP_TRUNCATE, &openError);
    if (archive == nullptr) {
        zip_error_t error;
        zip_error_init_with_code(&error, openError);
        throw ToolError("cannot write " + file().path() + ": " + zip_error_strerror(&error));
    }
    const std::string metadataText = metadata({info_, scans_, gaps_});
    const time_t modified = startSeconds(info_.startTime);
    const auto add = [&](const std::string &name, zip_source_t *source) {
        const zip_int64_t index = source ? zip_file_add(archive, name.c_str(), source, ZIP_FL_ENC_UTF_8) : -1;
        if (index < 0 || zip_set_file_compression(archive, zip_uint64_t(index), ZIP_CM_STORE, 0) != 0 ||
            zip_file_set_mtime(archive, zip_uint64_t(index), modified, 0) != 0) {
            if (source && index < 0)
                zip_source_free(source);
            const std::string why = archiveError(archive);
            zip_discard(archive);
            throw ToolError("cannot write " + file().path() + ": " + why);
        }
    };
    add("version", zip_source_buffer(archive, kVersion, sizeof kVersion - 1, 0));
    add("metadata", zip_source_buffer(archive, metadataText.data(), metadataText.size(), 0));
    for (uint32_t channel = 0; channel < channels_.size(); ++channel) {
        const uint64_t chunks = std::max<uint64_t>(1, (scans_ + kChunkValues - 1) / kChunkValues);
        for (uint64_t chunk = 0; chunk < chunks; ++chunk) {
            const uint64_t first = chunk * kChunkValues;
            const uint64_t count = std::min(kChunkValues, scans_ - first);
            add("analog-1-" + std::to_string(channel + 1) + "-" + std::to_string(chunk + 1),
                zip_source_file(archive, channels_[channel]->writtenPath().c_str(), first * sizeof(float),
                                zip_int64_t(count * sizeof(float))));
        }
    }
    if (zip_close(archive) != 0) {
        const std::string why = archiveError(archive);
        zip_discard(archive);
        throw ToolError("cannot write " + file().path() + ": " + why);
    }
}

} // namespace kvd::tool
