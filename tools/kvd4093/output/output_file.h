// A file written front to back through a large buffer, or standard output
// for the path "-"; every failure becomes a ToolError naming the file
// (ReaderGone when the reader of a pipe has quit).
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace kvd::tool {

// The path that stands for standard output.
constexpr std::string_view kStandardOutput = "-";

class OutputFile {
public:
    // Creates or truncates the file at once, so a bad path fails before the
    // card is touched.
    explicit OutputFile(std::string path);
    // A file this object created and never closed (the run failed before
    // the acquisition) is removed: a failed run leaves no empty file behind.
    ~OutputFile();
    OutputFile(const OutputFile &) = delete;
    OutputFile &operator=(const OutputFile &) = delete;

    void write(const void *data, size_t size);
    void write(std::string_view text) { write(text.data(), text.size()); }
    // Flushes what was written so far (the file stays valid if the process dies later).
    void flush();
    void close();
    const std::string &path() const { return path_; }

private:
    [[noreturn]] void fail(const char *what);
    std::string shownName() const;

    std::string path_;
    std::FILE *file_ = nullptr;
    bool created_ = false; // the file did not exist before
    bool closed_ = false;
};

// True when the name ends in the extension, compared without case: ".csv".
bool hasExtension(std::string_view path, std::string_view extension);

} // namespace kvd::tool
