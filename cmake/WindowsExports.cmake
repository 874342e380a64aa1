# The Windows export table and import libraries, derived from one table.
#
# src/host/KVD4093.def lists every export as EXPORTED-NAME=SYMBOL@N @ORDINAL,
# SYMBOL@N being the 32-bit __stdcall symbol (written, as ld wants it, without
# the leading underscore the compiler adds on x86). From it this module writes:
#  - the linker's .def for this architecture: on x86 the table as it is; on
#    x64, where __stdcall does not decorate, the symbols without their @N;
#  - the import .def for dlltool: for each export the symbol a C program
#    compiled against KVD4093.h references, its ordinal, and "== NAME" so the
#    program imports the export's own name (_BulkRead@20, KVD4093_CreateDevice).

# Rewrites a file only when its content changes, so an unchanged table
# does not relink the DLL.
function(kvd4093_write_if_changed path content)
  if(EXISTS "${path}")
    file(READ "${path}" old)
    if(old STREQUAL content)
      return()
    endif()
  endif()
  file(WRITE "${path}" "${content}")
endfunction()

# kvd4093_windows_def_files(TABLE <source .def> EXPORT_DEF <var> IMPORT_DEF <var> [NAME <stem>])
# writes <stem>.export.def and <stem>.import.def (stem KVD4093 unless given)
# in the current binary folder.
function(kvd4093_windows_def_files)
  cmake_parse_arguments(ARG "" "TABLE;EXPORT_DEF;IMPORT_DEF;NAME" "" ${ARGN})
  if(NOT ARG_NAME)
    set(ARG_NAME KVD4093)
  endif()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${ARG_TABLE}")
  # Comments go first: a ';' would split a CMake list.
  file(READ "${ARG_TABLE}" content)
  string(REGEX REPLACE ";[^\n]*" "" content "${content}")
  string(REPLACE "\r" "" content "${content}")
  string(REPLACE "\n" ";" lines "${content}")

  set(library "")
  set(exports "")
  set(imports "")
  foreach(line IN LISTS lines)
    if(line MATCHES "^LIBRARY[ \t]+\"?([^\" \t]+)\"?")
      set(library "${CMAKE_MATCH_1}")
    elseif(line MATCHES "^([A-Za-z0-9_@]+)=([A-Za-z0-9_]+)(@[0-9]+)[ \t]+@([0-9]+)[ \t]*$")
      set(name "${CMAKE_MATCH_1}")
      set(symbol "${CMAKE_MATCH_2}")
      set(decoration "${CMAKE_MATCH_3}")
      set(ordinal "${CMAKE_MATCH_4}")
      if(CMAKE_SIZEOF_VOID_P EQUAL 4)
        string(APPEND symbol "${decoration}")
      endif()
      string(APPEND exports "${name}=${symbol} @${ordinal}\n")
      string(APPEND imports "${symbol} @${ordinal} == ${name}\n")
    elseif(line MATCHES "^[ \t]*$" OR line STREQUAL "EXPORTS")
      # blank lines, the section keyword
    else()
      message(FATAL_ERROR "${ARG_TABLE}: cannot read the line \"${line}\"")
    endif()
  endforeach()
  if(library STREQUAL "")
    message(FATAL_ERROR "${ARG_TABLE}: no LIBRARY line")
  endif()

  set(header "; Generated from ${ARG_TABLE}; edit that file instead.\n")
  set(export_def "${CMAKE_CURRENT_BINARY_DIR}/${ARG_NAME}.export.def")
  set(import_def "${CMAKE_CURRENT_BINARY_DIR}/${ARG_NAME}.import.def")
  # dlltool's parser wants the module name unquoted, ld's takes it quoted.
  kvd4093_write_if_changed("${export_def}" "${header}LIBRARY \"${library}\"\nEXPORTS\n${exports}")
  kvd4093_write_if_changed("${import_def}" "${header}LIBRARY ${library}\nEXPORTS\n${imports}")
  set(${ARG_EXPORT_DEF} "${export_def}" PARENT_SCOPE)
  set(${ARG_IMPORT_DEF} "${import_def}" PARENT_SCOPE)
endfunction()
