// --version: the tool's version and the library it runs with.
#pragma once

#include <string>

namespace kvd::tool {

// The library this process loaded: its file and its version ("1.0.0"),
// each empty where it cannot be told.
struct LoadedLibrary {
    std::string file;
    std::string version;
};
LoadedLibrary loadedLibrary();

// The tool's own version, the project's.
std::string toolVersion();

// "kvd4093 1.0.0\nlibrary: ...\n": the first line is the tool's name and
// version (help2man reads it); the second names the library loaded and,
// where it carries one, its version.
std::string toolAndLibraryVersion();

} // namespace kvd::tool
