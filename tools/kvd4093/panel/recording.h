// Recording the running acquisition to a file, in any format the tool
// writes (chosen by the name's extension): from the next block on, for a
// number of scans or until stopped. The file is finished whatever ends it
// (its length reached, a stop, a new rate, Ctrl-C), as `acquire` finishes
// its files, so it is always complete and valid.
//
// The acquisition hands every block to this sink on its reader thread; the
// panel starts and stops recordings on its own thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "output/sample_sink.h"

namespace kvd::tool::panel {

// The extensions a recording may have.
constexpr const char *kRecordingFormats[] = {"csv", "bin", "svg"};

struct RecordingStatus {
    enum class State { Idle, Recording, Done, Failed } state = State::Idle;
    std::string file;
    uint64_t scans = 0;   // written so far
    uint64_t planned = 0; // 0: until stopped
    std::string message;  // why it failed
};

class Recording final : public SampleSink {
public:
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
    void write(const uint16_t *samples, uint64_t firstScan, size_t scans) override;
    void finish(const AcquisitionOutcome &outcome) override;

private:
    void end(int stopSignal);

    mutable std::mutex mutex_;
    AcquisitionInfo run_;
    bool running_ = false;
    std::unique_ptr<SampleSink> file_;
    std::chrono::steady_clock::time_point started_;
    RecordingStatus status_;
};

} // namespace kvd::tool::panel
