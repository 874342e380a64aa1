// Where an output file is written until it is complete: a temporary file
// beside its target, renamed over the target by commit(). A run that fails
// before it acquired anything never commits, so whatever was at the target
// stays as it was. A target that is not a regular file (a FIFO, /dev/null, a
// terminal) is written in place: there is nothing to rename.
#pragma once

#include <string>

namespace kvd::tool {

class StagedPath {
public:
    // Checks the target and creates the temporary file, empty: a path that
    // cannot be written fails here, before the card is touched. Throws
    // ToolError naming the target.
    explicit StagedPath(std::string target);
    // Removes the temporary file unless it was committed; when the file was
    // meant to be kept (keepWanted()), says on standard error that it is not.
    ~StagedPath();
    StagedPath(const StagedPath &) = delete;
    StagedPath &operator=(const StagedPath &) = delete;

    const std::string &target() const { return target_; }
    // The file written: the temporary file until commit(), the target in place.
    const std::string &path() const { return inPlace_ ? target_ : committed_ ? renamedTo_ : temporary_; }
    bool inPlace() const { return inPlace_; }

    // Gives the written file the target's name; at most once, and a no-op in
    // place. Throws ToolError.
    void commit();
    // The run got far enough that this file should be kept: from now on,
    // removing it instead says so.
    void keepWanted() { keepWanted_ = true; }

private:
    std::string target_;
    std::string renamedTo_; // the target, or the file a link at the target names
    std::string temporary_;
    bool inPlace_ = false;
    bool committed_ = false;
    bool keepWanted_ = false;
};

// "cannot VERB NAME: the system's reason for errno".
[[noreturn]] void failOnFile(const char *verb, const std::string &name);

} // namespace kvd::tool
