#include "tool/format_readers.h"

#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "support/test_support.h"

namespace kvd::testing {
namespace {

// One script, a mode a reader. Properties first, "key value" a line, then
// "--", then the rows.
constexpr const char *kReaders = R"(
import sys
mode, path = sys.argv[1], sys.argv[2]
def rows(array):
    print("--")
    for row in array:
        print(",".join(str(int(v)) for v in row))
if mode == "h5":
    import h5py
    with h5py.File(path, "r") as f:
        d = f["samples"]
        print("shape", *d.shape)
        print("dtype", d.dtype)
        print("maxshape", *["unlimited" if m is None else m for m in d.maxshape])
        print("chunked", d.chunks is not None)
        for name in sorted(d.attrs):
            v = d.attrs[name]
            if name == "ad_para":
                v = " ".join(f"{k}={v[k]}" for k in v.dtype.names)
            elif hasattr(v, "tolist"):
                v = v.tolist()
            print("attr:" + name, v)
        if "gaps" in f:
            print("gaps", f["gaps"][:].tolist())
        rows(d[:])
elif mode in ("npy", "npy-mmap"):
    import numpy
    a = numpy.load(path, mmap_mode="r" if mode == "npy-mmap" else None)
    print("shape", *a.shape)
    print("dtype", a.dtype)
    print("order", "C" if a.flags.c_contiguous else "F")
    print("memmap", isinstance(a, numpy.memmap))
    rows(a)
elif mode == "wav":
    import array, wave
    with wave.open(path) as w:
        n = w.getnchannels()
        print("channels", n)
        print("rate", w.getframerate())
        print("width", w.getsampwidth())
        print("frames", w.getnframes())
        data = array.array("h", w.readframes(w.getnframes()))
    if sys.byteorder == "big":
        data.byteswap()
    rows([[v + 32768 for v in data[i:i + n]] for i in range(0, len(data), n)])
elif mode == "zip":
    import zipfile
    sys.stdout.write(zipfile.ZipFile(path).read(sys.argv[3]).decode())
)";

ReadBack parse(const ChildResult &result) {
    ReadBack back;
    back.exitCode = result.exitCode;
    back.err = result.err;
    bool inRows = false;
    for (const std::string &line : linesOf(result.out)) {
        if (inRows) {
            back.rows.push_back(line);
        } else if (line == "--") {
            inRows = true;
        } else {
            const size_t space = line.find(' ');
            back.properties[line.substr(0, space)] = space == std::string::npos ? "" : line.substr(space + 1);
        }
    }
    return back;
}

ChildResult runPython(const std::vector<std::string> &arguments) {
    std::vector<std::string> command = {"-c", kReaders};
    command.insert(command.end(), arguments.begin(), arguments.end());
    return runChild(KVD4093_READER_PYTHON, command, std::filesystem::temp_directory_path().string());
}

ChildResult runProgram(const std::string &name, const std::vector<std::string> &arguments) {
    return runChild(findProgram(name), arguments, std::filesystem::temp_directory_path().string());
}

// sigrok-cli's own lines about each channel ("ch0: 1.23 V DC") come before
// its table, which starts with a line of units ("V DC,V DC").
std::vector<std::string> sigrokTable(const std::string &out) {
    std::vector<std::string> rows;
    bool inTable = false;
    for (const std::string &line : linesOf(out)) {
        if (inTable)
            rows.push_back(line);
        else if (line.rfind("V DC", 0) == 0)
            inTable = true;
    }
    return rows;
}

} // namespace

std::string findProgram(const std::string &name) {
    const char *path = std::getenv("PATH");
    std::istringstream folders(path ? path : "/usr/bin:/bin");
    for (std::string folder; std::getline(folders, folder, ':');) {
        const std::filesystem::path candidate = std::filesystem::path(folder) / name;
        std::error_code error;
        if (std::filesystem::is_regular_file(candidate, error))
            return candidate.string();
    }
    return {};
}

std::string missingReader(const std::string &reader) {
    if (reader == "h5py" || reader == "numpy") {
        if (runChild(KVD4093_READER_PYTHON, {"-c", "import " + reader}, "/").exitCode != 0)
            return std::string(KVD4093_READER_PYTHON) + " cannot import " + reader + " (.ci/run installs python3-" +
                   reader + ")";
        return {};
    }
    if (findProgram(reader).empty())
        return reader + " is not installed (.ci/run installs it)";
    return {};
}

ReadBack readHdf5(const std::string &path) { return parse(runPython({"h5", path})); }

ReadBack readNpy(const std::string &path, bool memoryMapped) {
    return parse(runPython({memoryMapped ? "npy-mmap" : "npy", path}));
}

ReadBack readWav(const std::string &path) { return parse(runPython({"wav", path})); }

std::string zipMember(const std::string &path, const std::string &member) {
    return runPython({"zip", path, member}).out;
}

ReadBack readSigrokSession(const std::string &path) {
    const ChildResult table = runProgram("sigrok-cli", {"-i", path, "-O", "csv"});
    ReadBack back;
    back.exitCode = table.exitCode;
    back.err = table.err;
    back.rows = sigrokTable(table.out);
    const ChildResult show = runProgram("sigrok-cli", {"-i", path, "--show"});
    for (const std::string &line : linesOf(show.out)) {
        const size_t colon = line.find(": ");
        if (colon != std::string::npos)
            back.properties[line.substr(0, colon)] = line.substr(colon + 2);
    }
    if (show.exitCode != 0)
        back.exitCode = show.exitCode;
    return back;
}

ReadBack soxInfo(const std::string &path) {
    const ChildResult result = runProgram("sox", {"--i", path});
    ReadBack back;
    back.exitCode = result.exitCode;
    back.err = result.err;
    for (const std::string &line : linesOf(result.out)) {
        const size_t colon = line.find(" : ");
        if (colon == std::string::npos)
            continue;
        std::string name = line.substr(0, colon);
        name.erase(name.find_last_not_of(' ') + 1);
        back.properties[name] = line.substr(colon + 3);
    }
    return back;
}

std::vector<std::string> csvValueRows(const std::string &path) {
    std::vector<std::string> rows;
    const std::vector<std::string> lines = linesOf(readWholeFile(path));
    for (size_t i = 1; i < lines.size(); ++i) {
        if (lines[i].empty() || lines[i][0] == '#')
            continue;
        const size_t second = lines[i].find(',', lines[i].find(',') + 1);
        rows.push_back(second == std::string::npos ? "" : lines[i].substr(second + 1));
    }
    return rows;
}

} // namespace kvd::testing
