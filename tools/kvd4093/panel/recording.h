// Recording the running acquisition to a file, in any format the tool
// writes (chosen by the name's extension): from the next block on, for a
// number of scans (the lost ones included, as `acquire` counts them) or
// until stopped. The file is finished whatever ends it (its length reached,
// a stop, a new rate, Ctrl-C), as `acquire` finishes its files, so it is
// always complete and valid, with the gaps the acquisition left and its
// largest backlog. A recording that ends before its first scan leaves no
// file and says so.
//
// The acquisition hands every block and gap to this sink on its own
// thread; the panel starts and stops recordings on its thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "output/sample_sink.h"

namespace kvd::tool::panel {

// The extensions a recording may have, without their dot: each output
// format's (output/formats.h), then "svg" for a plot.
std::vector<std::string> recordingFormats();

struct RecordingStatus {
    // Empty: it ended before its first scan, and left no file.
    enum class State { Idle, Recording, Done, Empty, Failed } state = State::Idle;
    std::string file;
    uint64_t scans = 0;     // written so far
    uint64_t scansLost = 0; // lost in the gaps so far
    uint64_t gaps = 0;
    uint64_t planned = 0; // 0: until stopped
    std::string message;  // why it failed or left no file
};

// Makes the writer of a file of that name.
using FileWriterMaker = std::function<std::unique_ptr<SampleSink>(const std::string &name)>;
std::unique_ptr<SampleSink> makeFileWriter(const std::string &name);

class Recording final : public SampleSink {
public:
    explicit Recording(FileWriterMaker makeWriter = makeFileWriter) : makeWriter_(std::move(makeWriter)) {}

    // Throws UsageError for a name that is not a plain file name in the
    // folder with one of the formats' extensions, or that exists already;
    // a plot needs a length (`planned` scans, 0 for none).
    static void checkFileName(const std::string &name, uint64_t planned);

    // Starts writing `name` in the current folder from the next block of the
    // running acquisition; throws UsageError or ToolError. `planned` scans, 0: until stopped.
    void start(const std::string &name, uint64_t planned);
    // Finishes the file now.
    void stop();
    RecordingStatus status() const;

    // The acquisition's side.
    void begin(const AcquisitionInfo &info) override;
    // `firstScan` counts from the acquisition's start; the file's scans from the recording's.
    void write(const uint16_t *samples, uint64_t firstScan, size_t scans) override;
    void gap(uint64_t firstScan, uint64_t scansLost) override;
    void finish(const AcquisitionOutcome &outcome) override;
    // The reads' backlog against the card's clock now, in scans.
    void noteBacklog(uint64_t backlog);

private:
    void end(int stopSignal);
    // The recording's index of the acquisition's scan `firstScan`; nullopt before its first block.
    std::optional<uint64_t> position(uint64_t firstScan, bool blockStarts);
    void reachPlanned();

    FileWriterMaker makeWriter_;
    mutable std::mutex mutex_;
    AcquisitionInfo run_;
    bool running_ = false;
    std::unique_ptr<SampleSink> file_;
    std::optional<uint64_t> firstScan_; // the acquisition's index of the recording's scan 0
    std::vector<ScanGap> firstGaps_;
    uint64_t largestBacklog_ = 0;
    std::chrono::steady_clock::time_point started_;
    RecordingStatus status_;
};

} // namespace kvd::tool::panel
