# Fails when a file under src/ includes a header of a folder above its own.
# The stack, top first; a folder may include its own headers, those of the
# folders below it, and the public headers, never those of a folder above it
# or beside it. Inside platform/, each backend or OS folder (win32, posix,
# usb, virtual) implements the contract of platform/ itself and may include
# it, but never another backend's folder; card_model/, at the bottom, includes
# only itself, so the software driver and the emulated card can build it alone.
# Beside card_model/, at the bottom too, stands common/facts/ (included as
# "facts/..."), the facts the card library, the stream library and the tool
# share: it includes only itself and the standard library, which is checked
# below for its own files.
#   cmake -DSOURCE_DIR=<repository root> -P CheckLayers.cmake
function(layer_of folder out)
  set(level 0)
  foreach(layer IN LISTS layers)
    if(folder MATCHES "^(${layer})$")
      set(${out} ${level} PARENT_SCOPE)
      return()
    endif()
    math(EXPR level "${level} + 1")
  endforeach()
  set(${out} -1 PARENT_SCOPE)
endfunction()

# The stack is a list of levels, siblings on one level separated by ';'.
set(layers "host" "settings|acquisition" "device" "core" "platform" "card_model|facts")

file(GLOB_RECURSE sources RELATIVE "${SOURCE_DIR}/src" "${SOURCE_DIR}/src/*.h" "${SOURCE_DIR}/src/*.cpp" "${SOURCE_DIR}/src/*.c")
set(violations "")
foreach(source IN LISTS sources)
  string(REGEX MATCH "^[^/]+" from "${source}")
  layer_of(${from} from_level)
  if(from_level EQUAL -1)
    continue() # files at src/ itself: none today
  endif()
  file(STRINGS "${SOURCE_DIR}/src/${source}" includes REGEX "^[ \t]*#[ \t]*include[ \t]+\"[^\"/]+/")
  foreach(line IN LISTS includes)
    string(REGEX REPLACE "^[^\"]*\"([^\"/]+)/.*$" "\\1" to "${line}")
    layer_of(${to} to_level)
    if(to_level EQUAL -1)
      list(APPEND violations "src/${source}: includes from unknown folder '${to}'")
    elseif(NOT to STREQUAL from AND NOT to_level GREATER from_level)
      list(APPEND violations "src/${source}: ${from} includes ${to}, which is not below it")
    elseif(from STREQUAL "platform")
      string(REGEX MATCH "^platform/([^/]+)/" from_backend "${source}")
      set(from_backend "${CMAKE_MATCH_1}")
      string(REGEX MATCH "\"platform/([^/\"]+)/" to_backend "${line}")
      set(to_backend "${CMAKE_MATCH_1}")
      if(from_backend AND to_backend AND NOT from_backend STREQUAL to_backend)
        list(APPEND violations "src/${source}: platform/${from_backend} includes platform/${to_backend}, a folder beside it")
      endif()
    endif()
  endforeach()
endforeach()

# common/facts/: its own headers ("facts/...") and standard headers (<name>,
# no extension, no folder) only.
file(GLOB facts_sources RELATIVE "${SOURCE_DIR}" "${SOURCE_DIR}/common/facts/*")
foreach(source IN LISTS facts_sources)
  file(STRINGS "${SOURCE_DIR}/${source}" includes REGEX "^[ \t]*#[ \t]*include")
  foreach(line IN LISTS includes)
    if(NOT line MATCHES "^[ \t]*#[ \t]*include[ \t]+(\"facts/[^\"/]+\"|<[a-z_]+>)")
      string(STRIP "${line}" line)
      list(APPEND violations "${source}: ${line}: facts/ includes only itself and the standard library")
    endif()
  endforeach()
endforeach()
list(APPEND sources ${facts_sources})

if(violations)
  list(JOIN violations "\n" text)
  message(FATAL_ERROR "includes that point up or across the layers:\n${text}")
endif()
list(LENGTH sources count)
message(STATUS "layers: ${count} files, every include points down")
