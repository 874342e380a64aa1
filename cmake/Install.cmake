# Installs libkvd4093.so with the public header, a CMake package
# (find_package(KVD4093) gives the target KVD4093::kvd4093, and
# KVD4093::stream from InstallStream.cmake) and a pkg-config file
# (kvd4093.pc).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(KVD4093_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/KVD4093)

install(TARGETS kvd4093 EXPORT KVD4093Targets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/KVD4093.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
if(NOT WIN32)
  install(FILES ${PROJECT_SOURCE_DIR}/include/KVD4093_posix.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
endif()

install(EXPORT KVD4093Targets NAMESPACE KVD4093:: DESTINATION ${KVD4093_PACKAGE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/KVD4093Config.cmake.in
  ${PROJECT_BINARY_DIR}/KVD4093Config.cmake
  INSTALL_DESTINATION ${KVD4093_PACKAGE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/KVD4093ConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/KVD4093Config.cmake ${PROJECT_BINARY_DIR}/KVD4093ConfigVersion.cmake
  DESTINATION ${KVD4093_PACKAGE_DIR})

# Installs the pkg-config file NAME.pc made from cmake/NAME.pc.in. A .pc
# file finds the prefix from its own place, so an install moved elsewhere
# (cmake --install --prefix ...) still describes itself.
function(kvd4093_install_pkgconfig name)
  set(KVD4093_PKGCONFIG_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
  if(IS_ABSOLUTE "${KVD4093_PKGCONFIG_DIR}")
    set(KVD4093_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
  else()
    file(RELATIVE_PATH KVD4093_PC_UP /prefix/${KVD4093_PKGCONFIG_DIR} /prefix)
    string(REGEX REPLACE "/$" "" KVD4093_PC_UP "${KVD4093_PC_UP}")
    set(KVD4093_PC_PREFIX "\${pcfiledir}/${KVD4093_PC_UP}")
  endif()
  configure_file(${PROJECT_SOURCE_DIR}/cmake/${name}.pc.in ${PROJECT_BINARY_DIR}/${name}.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/${name}.pc DESTINATION ${KVD4093_PKGCONFIG_DIR})
endfunction()
kvd4093_install_pkgconfig(kvd4093)

# The documentation, laid out as in the sources so that its links hold: the
# README, the pages of docs/ and the examples' sources.
set(KVD4093_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/kvd4093)
file(GLOB KVD4093_DOC_PAGES ${PROJECT_SOURCE_DIR}/docs/*.md)
file(GLOB KVD4093_EXAMPLE_SOURCES ${PROJECT_SOURCE_DIR}/examples/*.c)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${KVD4093_DOC_DIR})
install(FILES ${KVD4093_DOC_PAGES} DESTINATION ${KVD4093_DOC_DIR}/docs)
install(FILES ${KVD4093_EXAMPLE_SOURCES} DESTINATION ${KVD4093_DOC_DIR}/examples)

# Linux: the udev rule for the cards on USB, and the packages of make package
# (the Debian package, the Python wheels, the Windows archive).
if(NOT WIN32)
  include(${CMAKE_CURRENT_LIST_DIR}/UdevRule.cmake)
  include(${CMAKE_CURRENT_LIST_DIR}/package/Package.cmake)
  include(${CMAKE_CURRENT_LIST_DIR}/package/NuGetPackage.cmake)
endif()
