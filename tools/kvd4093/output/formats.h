// Every output format in one table: its name for --format, its extension,
// what it holds, whether it can stream (standard output, a pipe, a device)
// and the sink that writes it. A format this build lacks the library for
// (HDF5, libzip) is listed too, and refused with what to install.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "output/sample_sink.h"

namespace kvd::tool {

struct OutputFormat {
    std::string_view name;      // as --format takes it: "csv"
    std::string_view extension; // ".csv"
    std::string_view holds;     // one line for --help
    bool streams;               // can go to standard output, a pipe or a device
    std::string_view companion; // a file written beside it (".json"), or empty
    // The sink for a path; nullptr when this build lacks its library.
    std::unique_ptr<SampleSink> (*open)(const std::string &path);
    std::string_view lacking; // what this build lacks for it, when it does
};

const std::vector<OutputFormat> &outputFormats();

// The format of an output: --format's, else the one the name's extension
// says, else CSV (a FIFO, /dev/null, a name without a known extension).
// Throws UsageError for an unknown --format, and for a format that cannot
// go where the path points (standard output, a pipe or a device).
const OutputFormat &chooseFormat(const std::string &path, const std::optional<std::string> &formatName);

// Opens the format's sink for path: creates the file now. Throws ToolError
// when this build cannot write the format.
std::unique_ptr<SampleSink> openFormat(const OutputFormat &format, const std::string &path);

// "csv, bin, ...": every name, for messages.
std::string formatNames();
// "csv, bin, wav": the names of the formats that can stream.
std::string streamingNames();
// A line per format, its name and its extension: "csv .csv". What
// `kvd4093 help --formats` prints and the bash completion is made from.
std::string formatList();
// A line per format for --help: "  FILE.csv  CSV: ...".
std::string formatHelp();

} // namespace kvd::tool
