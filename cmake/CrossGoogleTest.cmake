# GoogleTest and GoogleMock for a cross build, compiled from the machine's
# sources (Debian's googletest package) as static libraries of this build.
set(KVD4093_GOOGLETEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources for cross builds")
if(NOT EXISTS ${KVD4093_GOOGLETEST_SOURCE_DIR}/CMakeLists.txt)
  message(FATAL_ERROR "No GoogleTest sources in ${KVD4093_GOOGLETEST_SOURCE_DIR} (install googletest)")
endif()

set(BUILD_SHARED_LIBS OFF)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
add_subdirectory(${KVD4093_GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
# GoogleTest brings its own warning flags; ours, and warnings as errors, are
# not for its code.
foreach(target gtest gtest_main gmock gmock_main)
  set_property(TARGET ${target} PROPERTY COMPILE_OPTIONS "")
  set_property(TARGET ${target} PROPERTY COMPILE_WARNING_AS_ERROR OFF)
endforeach()
