// A file written front to back through a large buffer, block by block, or
// standard output for the path "-"; every failure becomes a ToolError naming
// the file (ReaderGone when the reader of a pipe has quit). The file is written beside its target and takes the target's
// name only when commit() says so (staged_path.h), so a failed run leaves an
// earlier file untouched. After a failed write (a full disk) the file keeps
// the blocks that reached it whole: close() cuts it back to the last flush().
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "output/staged_path.h"

namespace kvd::tool {

// The path that stands for standard output.
constexpr std::string_view kStandardOutput = "-";

class OutputFile {
public:
    // Creates the file at once (its temporary file, or the target itself
    // when that is a FIFO or a device), so a bad path fails before the card
    // is touched. Messages name the file `shownAs` when one is given (a
    // part of another file).
    explicit OutputFile(std::string path, std::string shownAs = {});
    ~OutputFile();
    OutputFile(const OutputFile &) = delete;
    OutputFile &operator=(const OutputFile &) = delete;

    void write(const void *data, size_t size);
    void write(std::string_view text) { write(text.data(), text.size()); }
    // Ends a block: what was written so far reaches the file (a reader of the
    // file or the pipe sees it) and is what the file keeps should a later
    // write fail.
    void flush();
    // Closes the file; after a failed write, cut back to the end of the last
    // whole block. Throws when the close itself fails.
    void close();
    // Writes `bytes` at `offset` of the closed file: a header completed at
    // the end. Only for a file that can be rewritten (rewritable()).
    void patch(uint64_t offset, std::string_view bytes);
    // Makes `bytes` the whole content of the closed file, over room written
    // before (rewritable() files only).
    void replaceContents(std::string_view bytes);
    // Gives the file its target's name. A file that grows block by block
    // takes it at its first block, so that it can be followed while the
    // acquisition runs; on Windows, where an open file cannot be renamed,
    // that waits until close().
    void commit();
    // The run got far enough that the file should be kept (staged_path.h).
    void keepWanted();

    const std::string &path() const { return path_; }
    // Where the bytes are until commit(): the temporary file, or the path.
    const std::string &writtenPath() const { return staged_ ? staged_->path() : path_; }
    // True after a write failed: the file holds the blocks written before.
    bool failed() const { return failed_; }
    // A file that can be cut back and patched: not standard output, a pipe
    // or a device.
    bool rewritable() const { return staged_ && !staged_->inPlace(); }

private:
    [[noreturn]] void fail(const char *what);
    std::string shownName() const;

    std::string path_;
    std::string shownAs_;
    std::optional<StagedPath> staged_; // none for standard output
    std::FILE *file_ = nullptr;
    uint64_t writtenBytes_ = 0;
    uint64_t wholeBytes_ = 0;
    bool failed_ = false;
    bool commitAtClose_ = false;
};

// True when the name ends in the extension, compared without case: ".csv".
bool hasExtension(std::string_view path, std::string_view extension);

} // namespace kvd::tool
