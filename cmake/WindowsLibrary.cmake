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

add_library(kvd4093 SHARED $<TARGET_OBJECTS:kvd4093_core> platform/win32/dll/dll_main.cpp "${export_def}")
target_compile_definitions(kvd4093 PRIVATE KVD4093_BUILDING_LIBRARY WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
target_include_directories(kvd4093
  PUBLIC $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
  PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(kvd4093 PRIVATE Threads::Threads setupapi advapi32 user32)
# The linker's own import library would be built from the export names
# (__imp___BulkRead@20 on x86); it is written under another name and
# replaced by dlltool's below.
set_target_properties(kvd4093 PROPERTIES
  OUTPUT_NAME KVD4093
  PREFIX ""
  IMPORT_PREFIX ""
  IMPORT_SUFFIX ".linker-implib.a"
  LINK_DEPENDS "${export_def}")

set(KVD4093_IMPORT_LIBRARY "${CMAKE_CURRENT_BINARY_DIR}/libKVD4093.dll.a" CACHE INTERNAL "")
add_custom_command(OUTPUT "${KVD4093_IMPORT_LIBRARY}"
  COMMAND "${CMAKE_DLLTOOL}" --input-def "${import_def}" --dllname KVD4093.dll --output-lib "${KVD4093_IMPORT_LIBRARY}"
  DEPENDS "${import_def}"
  COMMENT "Import library libKVD4093.dll.a"
  VERBATIM)
add_custom_target(kvd4093_import_library ALL DEPENDS "${KVD4093_IMPORT_LIBRARY}")

# What programs link to use the DLL: the public header and the import library.
add_library(kvd4093_import INTERFACE)
target_include_directories(kvd4093_import INTERFACE ${PROJECT_SOURCE_DIR}/include)
target_link_libraries(kvd4093_import INTERFACE "${KVD4093_IMPORT_LIBRARY}")
add_dependencies(kvd4093_import kvd4093_import_library kvd4093)
