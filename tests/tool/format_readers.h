// The programs people open the tool's files with, run on those files as
// child processes: sigrok-cli, sox, h5dump, and Python's h5py, numpy and
// wave (Debian's python3, KVD4093_READER_PYTHON). What they print is reduced
// to the same plain rows, one scan a line, so every format compares with the
// CSV of the same acquisition.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "support/child_process.h"

namespace kvd::testing {

// What a reader saw: named properties ("shape" -> "2000 4") and the rows,
// the channels' values joined by commas.
struct ReadBack {
    int exitCode = -1;
    std::string err;
    std::map<std::string, std::string> properties;
    std::vector<std::string> rows;
};

// The full path of a program on PATH; empty when there is none.
std::string findProgram(const std::string &name);
// Why a reader cannot run here (GTEST_SKIP's message), or empty. Readers:
// "sigrok-cli", "sox", "h5dump", "h5py", "numpy".
std::string missingReader(const std::string &reader);

// h5py: the dataset "samples", its attributes ("attr:NAME") and its rows;
// the dataset "gaps" as a list of rows ("gaps").
ReadBack readHdf5(const std::string &path);
// numpy.load, plainly or memory-mapped: shape, dtype, order and rows.
ReadBack readNpy(const std::string &path, bool memoryMapped);
// Python's wave: channels, rate, sample width, frames, and each frame's
// samples as codes (sample + 32768).
ReadBack readWav(const std::string &path);
// sigrok-cli -i FILE -O csv: the rows of its table (%g values); and
// sigrok-cli -i FILE --show: samplerate, channels, sample count.
ReadBack readSigrokSession(const std::string &path);
// A member of a zip (the .sr's "metadata"), through Python's zipfile.
std::string zipMember(const std::string &path, const std::string &member);
// sox --i: its "Name : value" lines.
ReadBack soxInfo(const std::string &path);

// The value columns of a CSV the tool wrote, a row a scan; comment lines
// left out.
std::vector<std::string> csvValueRows(const std::string &path);

} // namespace kvd::testing
