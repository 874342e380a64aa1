// --version: the tool's version and the library it runs with.
#pragma once

#include <string>

namespace kvd::tool {

// "kvd4093 1.0.0\nlibrary: ...\n": the first line is the tool's name and
// version (help2man reads it); the second names the library loaded and,
// where its file name carries one, its version.
std::string toolAndLibraryVersion();

} // namespace kvd::tool
