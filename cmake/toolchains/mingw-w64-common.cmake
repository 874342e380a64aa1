# Shared part of the mingw-w64 cross toolchains. The including file sets
# KVD4093_MINGW_TRIPLE and CMAKE_SYSTEM_PROCESSOR first.
set(CMAKE_SYSTEM_NAME Windows)

# The "posix" thread model: its libstdc++ has std::thread and std::mutex
# (the "win32" one of GCC 12 has neither). Plain names are the fallback for
# installations that ship only one model.
find_program(CMAKE_C_COMPILER NAMES ${KVD4093_MINGW_TRIPLE}-gcc-posix ${KVD4093_MINGW_TRIPLE}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${KVD4093_MINGW_TRIPLE}-g++-posix ${KVD4093_MINGW_TRIPLE}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${KVD4093_MINGW_TRIPLE}-windres)
find_program(CMAKE_DLLTOOL NAMES ${KVD4093_MINGW_TRIPLE}-dlltool REQUIRED)
find_program(CMAKE_OBJDUMP NAMES ${KVD4093_MINGW_TRIPLE}-objdump REQUIRED)

set(CMAKE_FIND_ROOT_PATH /usr/${KVD4093_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The compiler's runtime (libgcc, libstdc++, winpthreads) goes into every
# DLL and program, so they run anywhere without companion DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
