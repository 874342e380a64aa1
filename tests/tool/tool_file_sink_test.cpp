// The end every format's file shares (output/file_sink.h), for each way a
// run can end: a file completed is committed whole under its name, once; a
// run that acquired nothing, a file that cannot be completed and a header
// patch that fails leave the earlier file as it was and no staged file.
#include <exception>
#include <filesystem>
#include <map>

#include <gtest/gtest.h>

#include "common/errors.h"
#include "output/file_sink.h"
#include "support/test_support.h"

namespace kvd::testing {
namespace {

enum class Ending { Completes, CannotComplete, PatchFails, WriteBehindFailed };

// A format of two lines whose header is completed at the end, ending as told.
class EndingSink final : public tool::FileSink {
public:
    EndingSink(std::string path, Ending ending) : FileSink(std::move(path)), ending_(ending) {}
    void begin(const tool::AcquisitionInfo &) override {
        file().write("header\n");
        file().flush();
    }
    void write(const uint16_t *, uint64_t, size_t) override {
        file().write("block\n");
        file().flush();
    }

private:
    std::exception_ptr settle() override {
        if (ending_ != Ending::WriteBehindFailed)
            return nullptr;
        return std::make_exception_ptr(tool::ToolError("a block written behind failed"));
    }
    bool completable() const override { return ending_ != Ending::CannotComplete; }
    void complete() override {
        if (ending_ == Ending::PatchFails)
            throw tool::ToolError("the header patch failed");
        file().patch(0, "HEADER");
    }

    Ending ending_;
};

struct EndCase {
    std::string name;
    Ending ending;
    uint64_t scans;      // the outcome's: 0 is a run that acquired nothing
    std::string kept;    // what the target holds after
    bool throws;         // finish reports a failure
};

void PrintTo(const EndCase &c, std::ostream *out) { *out << c.name; }

class FileSinkEndTest : public ::testing::TestWithParam<EndCase> {};

TEST_P(FileSinkEndTest, CommitsACompletedFileOnceAndNothingElse) {
    const EndCase &c = GetParam();
    TempDir dir;
    const std::string target = dir.file("run.out");
    writeWholeFile(target, "earlier\n");
    {
        EndingSink sink(target, c.ending);
        sink.begin({});
        const uint16_t samples[1] = {0};
        sink.write(samples, 0, 1);
        tool::AcquisitionOutcome outcome;
        outcome.scans = c.scans;
        if (c.throws)
            EXPECT_THROW(sink.finish(outcome), tool::ToolError);
        else
            EXPECT_NO_THROW(sink.finish(outcome));
    }
    std::map<std::string, std::string> files;
    for (const auto &entry : std::filesystem::directory_iterator(dir.path()))
        files[entry.path().filename().string()] = readWholeFile(entry.path().string());
    EXPECT_EQ(files, (std::map<std::string, std::string>{{"run.out", c.kept}}));
}

INSTANTIATE_TEST_SUITE_P(
    Endings, FileSinkEndTest,
    ::testing::Values(EndCase{"Completed", Ending::Completes, 1, "HEADER\nblock\n", false},
                      EndCase{"NothingAcquired", Ending::Completes, 0, "earlier\n", false},
                      EndCase{"CannotBeCompleted", Ending::CannotComplete, 1, "earlier\n", false},
                      EndCase{"HeaderPatchFails", Ending::PatchFails, 1, "earlier\n", true},
                      // The whole blocks stay, completed; the failure is still reported.
                      EndCase{"WriteBehindFailed", Ending::WriteBehindFailed, 1, "HEADER\nblock\n", true}),
    [](const ::testing::TestParamInfo<EndCase> &info) { return info.param.name; });

} // namespace
} // namespace kvd::testing
