# Writes OUTPUT, a C++ file holding the page's files as byte arrays and the
# table findPageFile() searches. Run by the build whenever a file changes:
#   cmake -DOUTPUT=page_files.cpp -DPAGE_DIR=page -P embed_page.cmake
# path served | file | media type (every file is UTF-8)
set(files
  "/|index.html|text/html"
  "/panel.css|panel.css|text/css"
  "/panel.js|panel.js|text/javascript")

set(arrays "")
set(table "")
set(index 0)
foreach(entry ${files})
  string(REPLACE "|" ";" parts "${entry}")
  list(GET parts 0 path)
  list(GET parts 1 name)
  list(GET parts 2 type)
  file(READ "${PAGE_DIR}/${name}" hex HEX)
  string(LENGTH "${hex}" digits)
  math(EXPR size "${digits} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${hex}")
  string(APPEND arrays "constexpr char kFile${index}[] = {${bytes}};\n")
  string(APPEND table "    {\"${path}\", \"${type}; charset=utf-8\", {kFile${index}, ${size}}},\n")
  math(EXPR index "${index} + 1")
endforeach()

file(WRITE "${OUTPUT}.new" "// Made by embed_page.cmake from the files in page/: do not edit.
#include \"panel/page_files.h\"

#include <algorithm>
#include <iterator>

namespace kvd::tool::panel {
namespace {

${arrays}
constexpr PageFile kFiles[] = {
${table}};

} // namespace

const PageFile *findPageFile(std::string_view path) {
    const auto found = std::find_if(std::begin(kFiles), std::end(kFiles), [&](const PageFile &f) { return f.path == path; });
    return found == std::end(kFiles) ? nullptr : &*found;
}

} // namespace kvd::tool::panel
")
file(COPY_FILE "${OUTPUT}.new" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.new")
