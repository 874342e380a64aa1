#include "panel/recording.h"

#include <algorithm>
#include <filesystem>

#include "common/errors.h"
#include "common/system.h"
#include "output/bin_writer.h"
#include "output/csv_writer.h"
#include "output/output_file.h"
#include "output/svg_plot.h"

namespace kvd::tool::panel {
namespace {

constexpr size_t kLongestName = 100;

std::unique_ptr<SampleSink> makeSink(const std::string &name) {
    if (hasExtension(name, ".csv"))
        return std::make_unique<CsvWriter>(name);
    if (hasExtension(name, ".bin"))
        return std::make_unique<BinWriter>(name);
    return std::make_unique<SvgPlot>(name);
}

bool hasFormat(const std::string &name) {
    return std::any_of(std::begin(kRecordingFormats), std::end(kRecordingFormats),
                       [&](const char *format) { return hasExtension(name, std::string(1, '.').append(format)); });
}

} // namespace

void Recording::checkFileName(const std::string &name, uint64_t planned) {
    const bool plain = !name.empty() && name.size() <= kLongestName && name[0] != '.' &&
                       name.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789._-") ==
                           std::string::npos;
    if (!plain)
        throw UsageError("\"" + name + "\" is not a file name of letters, digits, '.', '_' and '-' (the file goes "
                         "into the folder the panel runs in)");
    if (!hasFormat(name))
        throw UsageError("\"" + name + "\" must end in .csv, .bin or .svg");
    if (hasExtension(name, ".svg") && planned == 0)
        throw UsageError("a plot needs a length: give the seconds to record");
    std::error_code error;
    if (std::filesystem::exists(name, error) || (hasExtension(name, ".bin") && std::filesystem::exists(
                                                                                 BinWriter::sidecarPath(name), error)))
        throw UsageError("\"" + name + "\" exists already: choose another name");
}

void Recording::start(const std::string &name, uint64_t planned) {
    checkFileName(name, planned);
    const std::lock_guard lock(mutex_);
    if (!running_)
        throw UsageError("start the acquisition first: a recording writes what it acquires");
    if (status_.state == RecordingStatus::State::Recording)
        throw UsageError("a recording is under way: stop it first");
    std::unique_ptr<SampleSink> file = makeSink(name);
    AcquisitionInfo info = run_;
    info.plannedScans = planned;
    info.continuous = planned == 0;
    info.startTime = utcTimestamp();
    file->begin(info);
    file_ = std::move(file);
    started_ = std::chrono::steady_clock::now();
    status_ = RecordingStatus{RecordingStatus::State::Recording, name, 0, planned, {}};
}

void Recording::stop() {
    const std::lock_guard lock(mutex_);
    end(0);
}

RecordingStatus Recording::status() const {
    const std::lock_guard lock(mutex_);
    return status_;
}

void Recording::begin(const AcquisitionInfo &info) {
    const std::lock_guard lock(mutex_);
    run_ = info;
    running_ = true;
}

void Recording::write(const uint16_t *samples, uint64_t, size_t scans) {
    const std::lock_guard lock(mutex_);
    if (!file_)
        return;
    const uint64_t room = status_.planned ? status_.planned - status_.scans : scans;
    const size_t taken = size_t(std::min<uint64_t>(scans, room));
    try {
        file_->write(samples, status_.scans, taken);
    } catch (const ToolError &error) {
        end(0); // the file is finished as far as it can be
        status_.state = RecordingStatus::State::Failed;
        status_.message = error.what();
        return;
    }
    status_.scans += taken;
    if (status_.planned != 0 && status_.scans == status_.planned)
        end(0);
}

void Recording::finish(const AcquisitionOutcome &outcome) {
    const std::lock_guard lock(mutex_);
    running_ = false;
    end(outcome.stopSignal);
}

// Called with the mutex held.
void Recording::end(int stopSignal) {
    if (!file_)
        return;
    AcquisitionOutcome outcome;
    outcome.scans = status_.scans;
    outcome.stopSignal = stopSignal;
    outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
    std::unique_ptr<SampleSink> file = std::move(file_);
    try {
        file->finish(outcome);
        status_.state = RecordingStatus::State::Done;
    } catch (const ToolError &error) {
        status_.state = RecordingStatus::State::Failed;
        if (status_.message.empty())
            status_.message = error.what();
    }
}

} // namespace kvd::tool::panel
