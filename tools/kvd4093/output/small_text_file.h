// Reading a small text file the tool needs whole (a sidecar): only a
// regular file, and at most a stated number of bytes, so that a link to
// /dev/zero, a FIFO or a runaway file is refused instead of read without
// end or waited on.
#pragma once

#include <cstddef>
#include <string>

namespace kvd::tool {

// The whole content of the regular file at path. Throws ToolError naming the
// file when it cannot be read, is not a regular file, or holds more than
// mostBytes.
std::string readSmallTextFile(const std::string &path, size_t mostBytes);

} // namespace kvd::tool
