// convert: a raw binary acquisition (FILE.bin and its sidecar FILE.bin.json)
// written again in any output format, a block at a time, so a recording of
// any length converts with flat memory; the file is the one acquire would
// have written directly.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <utility>
#include <vector>

#include "commands/commands.h"
#include "common/errors.h"
#include "output/bin_writer.h"
#include "output/formats.h"
#include "output/output_file.h"
#include "output/sidecar.h"

namespace kvd::tool {

const OptionTable &convertOptions() {
    static const OptionTable table = {
        {"",
         {{.name = "format", .letter = 'f', .value = "NAME", .help = "OUT's format whatever its name: " + formatNames()},
          {.name = "scale",
           .value = "GAIN[,OFFSET][,UNIT]",
           .help = "value = code x GAIN + OFFSET, instead of the sidecar's"}}}};
    return table;
}

std::string convertHelp() {
    return "Usage: kvd4093 convert IN.bin OUT [--format NAME] [--scale GAIN[,OFFSET][,UNIT]]\n"
           "\n"
           "Writes the samples of a raw binary acquisition (IN.bin, described by its\n"
           "sidecar IN.bin.json) into OUT, in the format OUT's extension names:\n" +
           formatHelp() +
           "Any other name is CSV; OUT - is standard output (" + streamingNames() + ").\n"
           "OUT, and its sidecar when it is bin, may be neither IN.bin nor IN.bin.json,\n"
           "by any name.\n"
           "The rate, channels, card, start time, scale and lost scans come from the\n"
           "sidecar, so OUT is the file `kvd4093 acquire` would have written to OUT.\n"
           "\n" +
           optionHelp(convertOptions()) + "Example: kvd4093 convert run.bin run.h5\n";
}

namespace {

// Scans read at a time: at most the acquisition's largest block (1 MiB).
constexpr size_t kBlockSamples = size_t(1) << 19;

class RawInput {
public:
    explicit RawInput(const std::string &path) : path_(path), file_(std::fopen(path.c_str(), "rb")) {
        if (file_ == nullptr)
            failOnFile("read", path);
    }
    ~RawInput() { std::fclose(file_); }
    RawInput(const RawInput &) = delete;
    RawInput &operator=(const RawInput &) = delete;

    void read(std::vector<uint16_t> &samples, size_t count) {
        samples.resize(count);
        if (std::fread(samples.data(), sizeof(uint16_t), count, file_) != count) {
            if (std::feof(file_))
                throw ToolError(path_ + " ends before the scans its sidecar counts");
            failOnFile("read", path_);
        }
    }

private:
    std::string path_;
    std::FILE *file_;
};

// The scans in the file must be those the sidecar counts.
void checkSize(const std::string &input, const RunRecord &contents) {
    std::error_code error;
    const uint64_t bytes = std::filesystem::file_size(input, error);
    if (error) {
        errno = error.value();
        failOnFile("read", input);
    }
    const uint64_t scanBytes = uint64_t(contents.info.channelCount()) * sizeof(uint16_t);
    if (bytes != contents.scans * scanBytes)
        throw ToolError(input + " holds " + std::to_string(bytes / scanBytes) + " scans, its sidecar says " +
                        std::to_string(contents.scans));
    if (contents.scans == 0)
        throw ToolError(input + " holds no scans");
}

// Every scan to the sink in blocks, each recorded gap where it was, scans
// numbered as the acquisition numbered them.
void copyScans(RawInput &input, const RunRecord &contents, SampleSink &sink) {
    const uint32_t channels = contents.info.channelCount();
    const uint64_t blockScans = std::max<size_t>(1, kBlockSamples / channels);
    std::vector<ScanGap> gaps = contents.gaps;
    std::sort(gaps.begin(), gaps.end(), [](const ScanGap &a, const ScanGap &b) { return a.firstScan < b.firstScan; });
    auto nextGap = gaps.begin();
    std::vector<uint16_t> samples;
    uint64_t number = 0;
    for (uint64_t copied = 0; copied < contents.scans;) {
        for (; nextGap != gaps.end() && nextGap->firstScan <= number; ++nextGap) {
            sink.gap(number, nextGap->scansLost);
            number += nextGap->scansLost;
        }
        uint64_t scans = std::min(blockScans, contents.scans - copied);
        if (nextGap != gaps.end())
            scans = std::min(scans, nextGap->firstScan - number);
        input.read(samples, size_t(scans) * channels);
        sink.write(samples.data(), number, size_t(scans));
        number += scans;
        copied += scans;
    }
    for (; nextGap != gaps.end(); ++nextGap)
        sink.gap(nextGap->firstScan, nextGap->scansLost);
}

// No file convert writes (OUT, and its companion file beside it) may be one
// it reads (IN and its sidecar): compared as files, so that another
// spelling of the name, a hard link or a symbolic link is caught too.
void refuseWritingTheInput(const std::string &input, const std::string &output, const OutputFormat &format) {
    if (output == kStandardOutput)
        return;
    const std::pair<std::string, const char *> read[] = {{input, "the input"},
                                                         {BinWriter::sidecarPath(input), "the input's sidecar"}};
    std::vector<std::string> written = {output};
    if (!format.companion.empty())
        written.push_back(output + std::string(format.companion));
    for (const std::string &file : written)
        for (const auto &[readFile, what] : read) {
            std::error_code error;
            if (std::filesystem::equivalent(file, readFile, error))
                throw UsageError("convert would write " + file + ", which is " + what + " " + readFile +
                                 ": give OUT another name");
        }
}

} // namespace

int runConvert(Arguments &arguments) {
    const std::optional<std::string> formatName = arguments.value("format");
    const std::optional<std::string> scale = arguments.value("scale");
    const std::optional<std::string> input = arguments.positional();
    const std::optional<std::string> output = arguments.positional();
    arguments.expectAllTaken();
    if (!input || !output)
        throw UsageError("convert needs IN.bin and OUT, e.g. kvd4093 convert run.bin run.h5");
    const OutputFormat &format = chooseFormat(*output, formatName);
    refuseWritingTheInput(*input, *output, format);
    RunRecord contents = readSidecar(BinWriter::sidecarPath(*input));
    if (scale)
        contents.info.scale = parseScale(*scale);
    checkSize(*input, contents);

    RawInput raw(*input);
    const std::unique_ptr<SampleSink> sink = openFormat(format, *output);
    sink->begin(contents.info);
    copyScans(raw, contents, *sink);
    AcquisitionOutcome outcome;
    outcome.scans = contents.scans;
    sink->finish(outcome);

    std::FILE *report = *output == kStandardOutput ? stderr : stdout;
    std::fprintf(report, "converted %llu scans of %s into %s\n", static_cast<unsigned long long>(contents.scans),
                 input->c_str(), *output == kStandardOutput ? "standard output" : output->c_str());
    return kExitOk;
}

} // namespace kvd::tool
