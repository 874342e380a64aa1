# KVD4093.dll and its import library, included by src/CMakeLists.txt on Windows.
#
# The DLL holds the core's objects and the DLL entry; its exports are exactly
# those of src/host/KVD4093.def. The import library is made by dlltool from the
# same table, so that a program compiled against KVD4093.h (plain names such
# as BulkRead) imports the export names of the table (_BulkRead@20).
include(${PROJECT_SOURCE_DIR}/cmake/WindowsExports.cmake)

# Only src/platform/win32 includes <windows.h>: these settings are for it.
target_compile_definitions(kvd4093_core PRIVATE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
target_link_libraries(kvd4093_core PUBLIC setupapi advapi32 user32)

kvd4093_windows_def_files(
  TABLE ${CMAKE_CURRENT_SOURCE_DIR}/host/KVD4093.def
  EXPORT_DEF export_def
  IMPORT_DEF import_def)

# The DLL carries the project's version in its version resource.
configure_file(${PROJECT_SOURCE_DIR}/cmake/KVD4093.rc.in ${CMAKE_CURRENT_BINARY_DIR}/KVD4093.rc @ONLY)

add_library(kvd4093 SHARED $<TARGET_OBJECTS:kvd4093_core> host/entry/dll_main.cpp "${export_def}"
  ${CMAKE_CURRENT_BINARY_DIR}/KVD4093.rc)
target_compile_definitions(kvd4093 PRIVATE KVD4093_BUILDING_LIBRARY WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
target_include_directories(kvd4093
  PUBLIC $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
  PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(kvd4093 PRIVATE kvd4093_facts Threads::Threads setupapi advapi32 user32)
set_target_properties(kvd4093 PROPERTIES
  OUTPUT_NAME KVD4093
  PREFIX ""
  LINK_DEPENDS "${export_def}")

# The linker's own import library is built from the export names
# (__imp___BulkRead@20 on x86, which no program references); dlltool's,
# built from the same table, replaces it, so that every target that links
# kvd4093 imports the export names.
add_custom_command(TARGET kvd4093 POST_BUILD
  COMMAND "${CMAKE_DLLTOOL}" --input-def "${import_def}" --dllname KVD4093.dll
          --output-lib "$<TARGET_LINKER_FILE:kvd4093>"
  COMMENT "Import library of KVD4093.dll"
  VERBATIM)
set_property(TARGET kvd4093 APPEND PROPERTY LINK_DEPENDS "${import_def}")
