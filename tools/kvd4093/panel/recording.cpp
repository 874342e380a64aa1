#include "panel/recording.h"

#include <algorithm>
#include <filesystem>

#include "common/errors.h"
#include "common/system.h"
#include "output/formats.h"
#include "output/output_file.h"
#include "output/svg_plot.h"

namespace kvd::tool::panel {
namespace {

constexpr size_t kLongestName = 100;
constexpr std::string_view kPlot = ".svg";

// The format the name's extension names, or nullptr.
const OutputFormat *formatOf(const std::string &name) {
    const std::vector<OutputFormat> &all = outputFormats();
    const auto found = std::find_if(all.begin(), all.end(),
                                    [&](const OutputFormat &format) { return hasExtension(name, format.extension); });
    return found == all.end() ? nullptr : &*found;
}

// ".csv, .bin, ... or .svg"
std::string extensionList() {
    std::string list;
    for (const OutputFormat &format : outputFormats())
        list += std::string(format.extension) + ", ";
    return list.substr(0, list.size() - 2) + " or " + std::string(kPlot);
}

} // namespace

std::vector<std::string> recordingFormats() {
    std::vector<std::string> extensions;
    for (const OutputFormat &format : outputFormats())
        extensions.emplace_back(format.extension.substr(1));
    extensions.emplace_back(kPlot.substr(1));
    return extensions;
}

std::unique_ptr<SampleSink> makeFileWriter(const std::string &name) {
    if (const OutputFormat *format = formatOf(name))
        return openFormat(*format, name);
    return std::make_unique<SvgPlot>(name);
}

void Recording::checkFileName(const std::string &name, uint64_t planned) {
    const bool plain = !name.empty() && name.size() <= kLongestName && name[0] != '.' &&
                       name.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789._-") ==
                           std::string::npos;
    if (!plain)
        throw UsageError("\"" + name + "\" is not a file name of letters, digits, '.', '_' and '-' (the file goes "
                         "into the folder the panel runs in)");
    const OutputFormat *format = formatOf(name);
    if (!format && !hasExtension(name, kPlot))
        throw UsageError("\"" + name + "\" must end in " + extensionList());
    if (format && format->open == nullptr)
        throw UsageError("\"" + name + "\": this kvd4093 was built without " + std::string(format->lacking));
    if (!format && planned == 0)
        throw UsageError("a plot needs a length: give the seconds to record");
    std::error_code error;
    const bool companionExists = format && !format->companion.empty() &&
                                 std::filesystem::exists(name + std::string(format->companion), error);
    if (std::filesystem::exists(name, error) || companionExists)
        throw UsageError("\"" + name + "\" exists already: choose another name");
}

void Recording::start(const std::string &name, uint64_t planned) {
    checkFileName(name, planned);
    const std::lock_guard lock(mutex_);
    if (!running_)
        throw UsageError("start the acquisition first: a recording writes what it acquires");
    if (status_.state == RecordingStatus::State::Recording)
        throw UsageError("a recording is under way: stop it first");
    std::unique_ptr<SampleSink> file = makeWriter_(name);
    AcquisitionInfo info = run_;
    info.plannedScans = planned;
    info.continuous = planned == 0;
    info.startTime = utcTimestamp();
    file->begin(info);
    file_ = std::move(file);
    firstScan_.reset();
    firstGaps_.clear();
    largestBacklog_ = 0;
    started_ = std::chrono::steady_clock::now();
    status_ = RecordingStatus{};
    status_.state = RecordingStatus::State::Recording;
    status_.file = name;
    status_.planned = planned;
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

// Called with the mutex held. The recording starts with the first block
// that comes after it was started; a gap before that is none of its own.
std::optional<uint64_t> Recording::position(uint64_t firstScan, bool blockStarts) {
    if (!file_ || (!firstScan_ && !blockStarts))
        return std::nullopt;
    if (!firstScan_)
        firstScan_ = firstScan;
    return firstScan - *firstScan_;
}

// Called with the mutex held: the file ends once its length is covered.
void Recording::reachPlanned() {
    if (status_.planned != 0 && status_.scans + status_.scansLost >= status_.planned)
        end(0);
}

void Recording::write(const uint16_t *samples, uint64_t firstScan, size_t scans) {
    const std::lock_guard lock(mutex_);
    const std::optional<uint64_t> at = position(firstScan, true);
    if (!at)
        return;
    const uint64_t room = status_.planned ? status_.planned - *at : scans;
    const size_t taken = size_t(std::min<uint64_t>(scans, room));
    try {
        file_->write(samples, *at, taken);
    } catch (const ToolError &error) {
        end(0); // the file is finished as far as it can be
        status_.state = RecordingStatus::State::Failed;
        status_.message = error.what();
        return;
    }
    status_.scans += taken;
    reachPlanned();
}

void Recording::gap(uint64_t firstScan, uint64_t scansLost) {
    const std::lock_guard lock(mutex_);
    const std::optional<uint64_t> at = position(firstScan, false);
    if (!at)
        return;
    const uint64_t lost = status_.planned ? std::min(scansLost, status_.planned - *at) : scansLost;
    file_->gap(*at, lost);
    status_.scansLost += lost;
    ++status_.gaps;
    if (firstGaps_.size() < AcquisitionOutcome::kListedGaps)
        firstGaps_.push_back({*at, lost});
    reachPlanned();
}

void Recording::noteBacklog(uint64_t backlog) {
    const std::lock_guard lock(mutex_);
    if (file_)
        largestBacklog_ = std::max(largestBacklog_, backlog);
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
    outcome.scansLost = status_.scansLost;
    outcome.gapCount = status_.gaps;
    outcome.firstGaps = firstGaps_;
    outcome.largestBacklog = largestBacklog_;
    std::unique_ptr<SampleSink> file = std::move(file_);
    try {
        file->finish(outcome);
        status_.state = RecordingStatus::State::Done;
        // A writer keeps no file of a run that ended before its first scan.
        std::error_code error;
        if (!std::filesystem::exists(status_.file, error)) {
            status_.state = RecordingStatus::State::Empty;
            status_.message = "no file: the recording ended before its first scan";
        }
    } catch (const ToolError &error) {
        status_.state = RecordingStatus::State::Failed;
        if (status_.message.empty())
            status_.message = error.what();
    }
}

} // namespace kvd::tool::panel
