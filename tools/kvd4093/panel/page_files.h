// The page's files (page/: HTML, CSS, JavaScript), compiled into the tool so
// the panel works offline and from an installed tool. The build makes
// page_files.cpp from them.
#pragma once

#include <cstddef>
#include <string_view>

namespace kvd::tool::panel {

struct PageFile {
    std::string_view path;        // as the browser asks for it: "/", "/panel.js"
    std::string_view contentType; // "text/html; charset=utf-8"
    std::string_view bytes;
};

// The file served at `path`, or nullptr.
const PageFile *findPageFile(std::string_view path);

// Where the page's HTML says {{TOKEN}}, the server puts the token.
constexpr std::string_view kTokenPlaceholder = "{{TOKEN}}";

} // namespace kvd::tool::panel
