# Installs the stream library beside the card library (Install.cmake):
# libkvd4093stream.so with its SONAME link (KVD4093Stream.dll with its import
# library), its header, the target KVD4093::stream in the card library's
# CMake package, and kvd4093stream.pc. Included once stream/ has made the
# target. Like the card library's, only on Linux: the Windows archive is
# made from the Windows builds' files (package/WindowsPackages.cmake).
if(WIN32)
  return()
endif()
include(GNUInstallDirs)

set_target_properties(kvd4093stream PROPERTIES EXPORT_NAME stream)
install(TARGETS kvd4093stream EXPORT KVD4093Targets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/KVD4093_stream.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
kvd4093_install_pkgconfig(kvd4093stream)
