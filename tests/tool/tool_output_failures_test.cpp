// What kvd4093 acquire leaves when it fails: a run that fails before its
// first scan (no card, a record the tool refuses) leaves every earlier file
// as it was, byte for byte, and no temporary file; a full disk leaves each
// file readable by its reader with the whole blocks written (CSV whole lines,
// a complete JSON sidecar), or not at all, with a message.
#include <filesystem>
#include <map>
#include <regex>
#include <set>

#include <gtest/gtest.h>

#include "support/test_support.h"
#include "tool/format_readers.h"
#include "tool/tool_process.h"

namespace kvd::testing {
namespace {

namespace fs = std::filesystem;
using Args = std::vector<std::string>;

const char kEarlier[] = "an earlier run's bytes\n";

std::map<std::string, std::string> folderContents(const std::string &folder) {
    std::map<std::string, std::string> contents;
    for (const auto &entry : fs::directory_iterator(folder))
        if (entry.path().filename() != "KVD4093Err.log")
            contents[entry.path().filename().string()] = readWholeFile(entry.path().string());
    return contents;
}

struct FailedRun {
    std::string name;
    Args arguments;
    std::string message;
};

void PrintTo(const FailedRun &run, std::ostream *out) { *out << run.name; }

class ToolFailedRunTest : public ::testing::TestWithParam<std::tuple<std::string, FailedRun>> {};

// Every output (the file, the sidecar, the plot) of every format.
TEST_P(ToolFailedRunTest, LeavesEveryEarlierFileAsItWas) {
    const auto &[format, failure] = GetParam();
    TempDir dir;
    const std::string output = "run." + format;
    for (const std::string &name : {output, output + ".json", std::string("run.svg")})
        writeWholeFile(dir.file(name), kEarlier + name);
    const std::map<std::string, std::string> before = folderContents(dir.path());

    Args arguments = failure.arguments;
    arguments.insert(arguments.end(), {"--samples", "100", "--output", output, "--plot", "run.svg"});
    const ChildResult result = runTool(dir.path(), arguments);
    EXPECT_EQ(result.exitCode, failure.name == "refused record" ? 2 : 1);
    EXPECT_NE(result.err.find(failure.message), std::string::npos) << result.err;
    EXPECT_EQ(folderContents(dir.path()), before);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, ToolFailedRunTest,
    ::testing::Combine(::testing::Values("csv", "bin", "sr", "h5", "npy", "wav"),
                       ::testing::Values(FailedRun{"no card", {"acquire"}, "KVD4093_CreateDevice failed"},
                                         // Channels 5 to 256 reach the card as 5 to 0: refused once the card is open.
                                         FailedRun{"refused record",
                                                   {"acquire", "--virtual", "--channels", "5-256"},
                                                   "reach the card as 5-0"})),
    [](const auto &info) {
        std::string name = std::get<0>(info.param) + "_" + std::get<1>(info.param).name;
        std::replace(name.begin(), name.end(), ' ', '_');
        return name;
    });

TEST(ToolReplacedFileTest, ACompleteRunReplacesTheFileAndLeavesNothingElse) {
    TempDir dir;
    for (const std::string format : {"csv", "bin", "sr", "h5", "npy", "wav"}) {
        writeWholeFile(dir.file("run." + format), kEarlier);
        const ChildResult result = runTool(dir.path(), {"acquire", "--virtual", "--samples", "100", "--output",
                                                        "run." + format, "--plot", "run.svg"});
        ASSERT_EQ(result.exitCode, 0) << result.err;
        EXPECT_NE(readWholeFile(dir.file("run." + format)), kEarlier) << format;
    }
    std::set<std::string> names;
    for (const auto &[name, content] : folderContents(dir.path()))
        names.insert(name);
    EXPECT_EQ(names, (std::set<std::string>{"run.bin", "run.bin.json", "run.csv", "run.h5", "run.npy", "run.sr",
                                            "run.svg", "run.wav"}));
}

TEST(ToolFullDiskTest, ADeviceThatIsAlwaysFullFailsWithTheMessage) {
    if (!fs::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    TempDir dir;
    const ChildResult result = runTool(dir.path(), {"acquire", "--virtual", "--samples", "100", "--output", "/dev/full"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, "kvd4093: cannot write /dev/full: No space left on device\n");
}

// A real full disk: a small tmpfs mounted in a mount namespace of the
// tool's own (unshare, as an unprivileged user where the system lets users
// have namespaces). What is on it at the end is copied out for the readers.
class ToolFullDiskFormatTest : public ::testing::TestWithParam<std::string> {
protected:
    static bool canMountTmpfs() {
        static const bool can = [] {
            const std::string unshare = findProgram("unshare");
            return !unshare.empty() &&
                   runChild(unshare, {"-r", "-m", "sh", "-c", "mount -t tmpfs -o size=64k tmpfs /mnt"}, "/").exitCode ==
                       0;
        }();
        return can;
    }

    // The acquisition with its files on a 256 KiB disk, 4 channels at
    // 100 kS/s for 2 s: about 600 KiB of CSV, 800 KiB of samples.
    ChildResult acquireOnAFullDisk(const Args &outputs) {
        fs::create_directories(dir_.file("disk"));
        fs::create_directories(dir_.file("left"));
        std::vector<std::string> command = {"-r", "-m", "sh", "-c",
                                            "mount -t tmpfs -o size=256k tmpfs disk && cd disk && \"$0\" \"$@\"; "
                                            "status=$?; cd .. && cp -a disk/. left/; exit $status",
                                            KVD4093_TOOL_PATH, "acquire", "--virtual=7", "--channels", "0-3", "--rate",
                                            "100k", "--time", "2s"};
        command.insert(command.end(), outputs.begin(), outputs.end());
        return ChildProcess(findProgram("unshare"), command, dir_.path(), toolEnvironment(dir_.path())).wait();
    }

    std::string left(const std::string &name) const { return dir_.file("left/" + name); }

    // The first `scans` scans as CSV value rows, acquired on a roomy disk.
    std::vector<std::string> referenceRows(uint64_t scans) {
        const ChildResult result = runTool(dir_.path(), {"acquire", "--virtual=7", "--channels", "0-3", "--rate",
                                                         "100k", "--samples", std::to_string(scans), "--output",
                                                         "reference.csv"});
        EXPECT_EQ(result.exitCode, 0) << result.err;
        return csvValueRows(dir_.file("reference.csv"));
    }

    TempDir dir_;
};

// The blocks are 50 ms: 1250 scans of 4 channels.
constexpr uint64_t kBlockScans = 1250;

TEST_P(ToolFullDiskFormatTest, EachFileKeepsItsWholeBlocksOrIsNotKept) {
    if (!canMountTmpfs())
        GTEST_SKIP() << "cannot mount a small tmpfs in a namespace of our own (unshare -r -m)";
    const std::string &format = GetParam();
    const std::string output = "run." + format;
    const ChildResult result = acquireOnAFullDisk({"--output", output});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("kvd4093: cannot write " + output + ": No space left on device\n"), std::string::npos)
        << result.err;
    std::set<std::string> names;
    for (const auto &[name, content] : folderContents(dir_.file("left")))
        names.insert(name);

    if (format == "h5" || format == "sr") {
        // A half-written archive or HDF5 file cannot be completed: it goes, and says so.
        EXPECT_NE(result.err.find("kvd4093: " + output + " is not kept: it could not be completed\n"),
                  std::string::npos)
            << result.err;
        EXPECT_TRUE(names.empty()) << *names.begin();
        return;
    }
    std::vector<std::string> rows;
    if (format == "csv") {
        const std::string text = readWholeFile(left(output));
        ASSERT_FALSE(text.empty());
        EXPECT_EQ(text.back(), '\n') << "whole lines only";
        rows = csvValueRows(left(output));
    } else if (format == "bin") {
        // The sidecar's room was taken at the start: it is complete JSON
        // describing the samples kept.
        const std::string bytes = readWholeFile(left(output));
        const std::string sidecar = readWholeFile(left(output + ".json"));
        ASSERT_GT(sidecar.size(), 2u) << "the sidecar is there";
        EXPECT_EQ(sidecar.substr(sidecar.size() - 2), "}\n");
        EXPECT_NE(sidecar.find("\"scans\": " + std::to_string(bytes.size() / 8) + ",\n"), std::string::npos)
            << sidecar;
        EXPECT_NE(sidecar.find("\"complete\": false,\n"), std::string::npos);
        ASSERT_EQ(bytes.size() % (kBlockScans * 8), 0u);
        const ChildResult converted = runTool(dir_.path(), {"convert", left(output), dir_.file("converted.csv")});
        ASSERT_EQ(converted.exitCode, 0) << converted.err;
        rows = csvValueRows(dir_.file("converted.csv"));
    } else if (format == "npy") {
        if (!missingReader("numpy").empty())
            GTEST_SKIP() << missingReader("numpy");
        const ReadBack npy = readNpy(left(output), true);
        ASSERT_EQ(npy.exitCode, 0) << npy.err;
        rows = npy.rows;
    } else {
        const ReadBack wav = readWav(left(output));
        ASSERT_EQ(wav.exitCode, 0) << wav.err;
        EXPECT_EQ(wav.properties.at("frames"), std::to_string(wav.rows.size()));
        rows = wav.rows;
    }
    ASSERT_GT(rows.size(), 0u);
    EXPECT_EQ(rows.size() % kBlockScans, 0u) << "whole blocks";
    EXPECT_LT(rows.size(), 200000u);
    EXPECT_EQ(rows, referenceRows(rows.size()));
    EXPECT_EQ(names.count(output), 1u);
    for (const std::string &name : names)
        EXPECT_EQ(name.find(".part"), std::string::npos) << name;
}

INSTANTIATE_TEST_SUITE_P(Formats, ToolFullDiskFormatTest, ::testing::Values("csv", "bin", "npy", "wav", "h5", "sr"));

} // namespace
} // namespace kvd::testing
