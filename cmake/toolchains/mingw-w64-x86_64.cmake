# 64-bit Windows with Debian's mingw-w64 (g++-mingw-w64-x86-64). Programs
# built here run under wine64 through CMake's cross-compiling emulator, with
# a Wine prefix of their own below the build directory.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(KVD4093_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)

if(NOT DEFINED CMAKE_CROSSCOMPILING_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/../wine-run;${CMAKE_BINARY_DIR}/wineprefix")
endif()
