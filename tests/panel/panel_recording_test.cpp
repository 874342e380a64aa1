// The panel's recording under a disk that stalls: the acquisition goes on
// through the stream library, which drops whole blocks while the recording
// cannot take them, and the file records the gap, of the size lost, where
// it was lost.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <string>
#include <thread>

#include "KVD4093.h"
#include "common/errors.h"
#include "output/formats.h"
#include "panel/acquisition_run.h"
#include "panel/chart_frames.h"
#include "panel/recording.h"
#include "platform/virtual/virtual_card.h"

namespace kvd::tool::panel {
namespace {

using namespace std::chrono_literals;

constexpr int32_t kScanRate = 20000;
// Longer than the stream's buffer of 2 s: whole blocks must be dropped.
constexpr auto kStall = 3s;

// A file writer whose first write waits, as on a disk that stalls.
class StallingWriter final : public SampleSink {
public:
    explicit StallingWriter(std::unique_ptr<SampleSink> file) : file_(std::move(file)) {}
    void begin(const AcquisitionInfo &info) override { file_->begin(info); }
    void write(const uint16_t *samples, uint64_t firstScan, size_t scans) override {
        if (!stalled_)
            std::this_thread::sleep_for(kStall);
        stalled_ = true;
        file_->write(samples, firstScan, scans);
    }
    void gap(uint64_t firstScan, uint64_t scansLost) override { file_->gap(firstScan, scansLost); }
    void finish(const AcquisitionOutcome &outcome) override { file_->finish(outcome); }

private:
    std::unique_ptr<SampleSink> file_;
    bool stalled_ = false;
};

class PanelRecordingTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = std::filesystem::temp_directory_path() / ("kvd4093-panel-recording-" + std::to_string(getpid()));
        std::filesystem::create_directories(folder_);
        previous_ = std::filesystem::current_path();
        std::filesystem::current_path(folder_); // recordings go into the current folder
        vcard::Behaviour behaviour;
        behaviour.paced = true;
        behaviour.recording = false;
        vcard::install({7}, behaviour);
        card_ = KVD4093_CreateDevice(0);
        ASSERT_NE(card_, KVD4093_INVALID_HANDLE);
    }
    void TearDown() override {
        KVD4093_ReleaseDevice(card_);
        vcard::uninstall();
        std::filesystem::current_path(previous_);
        std::filesystem::remove_all(folder_);
    }

    AcquisitionInfo oneChannel() const {
        AcquisitionInfo info;
        KVD4093_ResetParaAD(card_, &info.para);
        info.para.FirstChannel = 0;
        info.para.LastChannel = 0;
        info.para.Frequency = kScanRate;
        info.sampleRate = kScanRate;
        info.continuous = true;
        return info;
    }

    // Starts `name` as soon as the run has begun.
    static void startWhenRunning(Recording &recording, const std::string &name) {
        for (;;) {
            try {
                recording.start(name, 0);
                return;
            } catch (const UsageError &) {
                std::this_thread::sleep_for(10ms); // not begun yet
            }
        }
    }

    std::filesystem::path folder_, previous_;
    KVD4093_HANDLE card_ = KVD4093_INVALID_HANDLE;
};

TEST_F(PanelRecordingTest, AStalledDiskLeavesAGapOfTheScansLostWhereTheyWereLost) {
    ChartFrames view(1, 1.0);
    Recording recording([](const std::string &name) { return std::make_unique<StallingWriter>(makeFileWriter(name)); });
    AcquisitionRun run({{.device = card_, .physicalId = 7, .reserved = 0}}, oneChannel(), view, recording);
    startWhenRunning(recording, "stalled.csv");
    while (recording.status().gaps == 0 || recording.status().scans < 2 * kScanRate)
        std::this_thread::sleep_for(50ms);
    ASSERT_EQ(run.stop(), std::nullopt);
    const RecordingStatus status = recording.status();
    const RunFigures figures = run.figures();
    ASSERT_EQ(status.state, RecordingStatus::State::Done) << status.message;
    EXPECT_EQ(status.scansLost, figures.scansLost);
    EXPECT_EQ(status.gaps, figures.gaps);

    // Rows "scan,time_s,..." follow on, but for each "# N scans lost from scan F".
    std::ifstream file("stalled.csv");
    std::string line;
    std::getline(file, line); // the column names
    uint64_t next = 0, rows = 0, lost = 0;
    while (std::getline(file, line)) {
        unsigned long long count = 0, from = 0;
        if (std::sscanf(line.c_str(), "# %llu scans lost from scan %llu", &count, &from) == 2) {
            EXPECT_EQ(from, next);
            next += count;
            lost += count;
        } else if (line[0] != '#') {
            ASSERT_EQ(std::stoull(line.substr(0, line.find(','))), next) << "scans went missing unmarked";
            ++next;
            ++rows;
        }
    }
    EXPECT_EQ(rows, status.scans);
    EXPECT_EQ(lost, status.scansLost);
    EXPECT_GT(lost, 0u);
}

// The panel's recording offers the format table's rows and a plot, no more,
// no fewer: in the list the page is sent, in the names it takes (the format
// chosen by the extension) and in the message for a name of none.
TEST(PanelRecordingFormatsTest, AreTheFormatTablesAndThePlot) {
    std::set<std::string> table = {".svg"};
    for (const OutputFormat &format : outputFormats()) {
        table.insert(std::string(format.extension));
        if (format.open != nullptr) {
            EXPECT_NO_THROW(Recording::checkFileName("run" + std::string(format.extension), 10)) << format.name;
        }
    }
    std::set<std::string> listed;
    for (const std::string &format : recordingFormats())
        listed.insert("." + format);
    EXPECT_EQ(listed, table);

    std::set<std::string> named;
    try {
        Recording::checkFileName("run.txt", 10);
        ADD_FAILURE() << "run.txt is no format's";
    } catch (const UsageError &error) {
        const std::string message = error.what();
        const std::regex extension("\\.[a-z0-9]+\\b");
        for (auto word = std::sregex_iterator(message.begin(), message.end(), extension);
             word != std::sregex_iterator(); ++word)
            if (word->str() != ".txt")
                named.insert(word->str());
    }
    EXPECT_EQ(named, table);
}

} // namespace
} // namespace kvd::tool::panel
