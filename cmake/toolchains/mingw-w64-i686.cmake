# 32-bit Windows with Debian's mingw-w64 (g++-mingw-w64-i686): the DLL of
# record. Nothing built here is run on this machine (it runs no 32-bit code);
# the build and its export and import tables are what is checked.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(KVD4093_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
