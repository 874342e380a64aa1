#include "output/formats.h"

#include <algorithm>
#include <filesystem>

#include "common/errors.h"
#include "output/bin_writer.h"
#include "output/csv_writer.h"
#include "output/npy_writer.h"
#include "output/output_file.h"
#include "output/wav_writer.h"
#if defined(KVD4093_TOOL_HAVE_HDF5)
#include "output/hdf5_writer.h"
#endif
#if defined(KVD4093_TOOL_HAVE_LIBZIP)
#include "output/sigrok_writer.h"
#endif

namespace kvd::tool {
namespace {

template <typename Writer> std::unique_ptr<SampleSink> openWith(const std::string &path) {
    return std::make_unique<Writer>(path);
}

#if defined(KVD4093_TOOL_HAVE_HDF5)
constexpr auto kOpenHdf5 = openWith<Hdf5Writer>;
#else
constexpr std::unique_ptr<SampleSink> (*kOpenHdf5)(const std::string &) = nullptr;
#endif
#if defined(KVD4093_TOOL_HAVE_LIBZIP)
constexpr auto kOpenSigrok = openWith<SigrokWriter>;
#else
constexpr std::unique_ptr<SampleSink> (*kOpenSigrok)(const std::string &) = nullptr;
#endif

// Standard output, a FIFO or a device: written front to back, never rewritten.
bool isStream(const std::string &path) {
    if (path == kStandardOutput)
        return true;
    std::error_code error;
    const auto status = std::filesystem::status(path, error);
    return std::filesystem::exists(status) && !std::filesystem::is_regular_file(status) &&
           !std::filesystem::is_directory(status);
}

std::string namesWhere(bool (*wanted)(const OutputFormat &)) {
    std::string names;
    for (const OutputFormat &format : outputFormats())
        if (wanted(format))
            names += std::string(names.empty() ? "" : ", ") + std::string(format.name);
    return names;
}

} // namespace

const std::vector<OutputFormat> &outputFormats() {
    static const std::vector<OutputFormat> all = {
        {"csv", ".csv", "CSV: a header \"scan,time_s,ch0,...\", then one scan a line", true, "",
         openWith<CsvWriter>, ""},
        {"bin", ".bin", "raw little-endian codes, and a JSON sidecar FILE.bin.json", true,
         BinWriter::kSidecarSuffix, openWith<BinWriter>, ""},
        {"sr", ".sr", "a sigrok session (PulseView, sigrok-cli): float32 per channel", false, "",
         kOpenSigrok, "libzip (Debian: libzip-dev)"},
        {"h5", ".h5", "HDF5: uint16 dataset \"samples\" (scans, channels), attributes", false,
         "", kOpenHdf5, "HDF5 (Debian: libhdf5-dev)"},
        {"npy", ".npy", "a NumPy array, uint16 (scans, channels), for numpy.load", false, "", openWith<NpyWriter>,
         ""},
        {"wav", ".wav", "WAV, 16-bit PCM at the scan rate, a channel per AD channel", true, "",
         openWith<WavWriter>, ""},
    };
    return all;
}

const OutputFormat &chooseFormat(const std::string &path, const std::optional<std::string> &formatName) {
    const std::vector<OutputFormat> &all = outputFormats();
    const auto chosen = std::find_if(all.begin(), all.end(), [&](const OutputFormat &format) {
        return formatName ? format.name == *formatName : hasExtension(path, format.extension);
    });
    if (formatName && chosen == all.end())
        throw UsageError("--format: \"" + *formatName + "\" is not one of " + formatNames());
    const OutputFormat &format = chosen == all.end() ? all.front() : *chosen;
    if (!format.streams && isStream(path))
        throw UsageError(std::string(format.name) + " needs a file it can complete at the end, not " +
                         (path == kStandardOutput ? std::string("standard output") : path) + " (" +
                         streamingNames() + " can stream)");
    return format;
}

std::unique_ptr<SampleSink> openFormat(const OutputFormat &format, const std::string &path) {
    if (format.open == nullptr)
        throw ToolError(path + ": this kvd4093 was built without " + std::string(format.lacking) + ", so it cannot " +
                        "write " + std::string(format.name) + " files");
    return format.open(path);
}

std::string formatNames() {
    return namesWhere([](const OutputFormat &) { return true; });
}

std::string streamingNames() {
    return namesWhere([](const OutputFormat &format) { return format.streams; });
}

std::string formatList() {
    std::string text;
    for (const OutputFormat &format : outputFormats())
        text += std::string(format.name) + " " + std::string(format.extension) + "\n";
    return text;
}

std::string formatHelp() {
    std::string text;
    for (const OutputFormat &format : outputFormats()) {
        std::string file = "FILE" + std::string(format.extension);
        file.resize(std::max<size_t>(file.size() + 2, 10), ' ');
        text += "    " + file + std::string(format.holds) +
                (format.open ? "" : " [not in this build: needs " + std::string(format.lacking) + "]") + "\n";
    }
    return text;
}

} // namespace kvd::tool
