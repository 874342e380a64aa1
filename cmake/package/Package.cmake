# The packages a user installs in one step, each carrying the project's
# version. `make package` configures a Release build installed into /usr and
# builds three targets of it:
#  - package: the Debian package kvd4093_VERSION_ARCH.deb (CPack): the
#    card library and the stream library with their SONAME links, the
#    headers, the CMake and pkg-config
#    files, the tool with its manual page and bash completion, the udev rule
#    and the documentation; its dependencies found from the shared libraries
#    it links; ldconfig (a trigger) and the udev rule take effect on install;
#  - package_wheel: the Python wheel that carries libkvd4093.so.1 and
#    libkvd4093stream.so.1;
#  - package_windows: from the Windows builds, the archive
#    kvd4093-VERSION-windows.zip and the wheel that carries the 64-bit DLL.
# All land in KVD4093_PACKAGE_OUTPUT.
set(KVD4093_PACKAGE_OUTPUT "${PROJECT_BINARY_DIR}/packages" CACHE PATH "Where the packages are written")
set(KVD4093_PACKAGE_MAINTAINER "KVD4093 developers <kvd4093@example.org>" CACHE STRING
  "The Debian package's maintainer: name <address>")
set(KVD4093_WIN64_BUILD "${PROJECT_SOURCE_DIR}/build/win64" CACHE PATH
  "The 64-bit Windows build (preset win64) the Windows packages take their files from")
set(KVD4093_WIN32_BUILD "${PROJECT_SOURCE_DIR}/build/win32" CACHE PATH
  "The 32-bit Windows build (preset win32) that gives the Windows archive its 32-bit DLL")
find_program(KVD4093_PYTHON NAMES python3 DOC "The Python that builds the wheels (with setuptools, wheel and pip)")

install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright DESTINATION ${KVD4093_DOC_DIR})

# The Debian package. Its changelog (a native package's, dated now or at
# SOURCE_DATE_EPOCH) and its compressed manual page are put in place just
# before it is packed.
string(TIMESTAMP KVD4093_PACKAGE_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${CMAKE_CURRENT_LIST_DIR}/changelog.in ${PROJECT_BINARY_DIR}/package/changelog @ONLY)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kvd4093)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "library and tool of the KVD4093 USB data-acquisition card")
set(CPACK_PACKAGE_DESCRIPTION [[
The user-mode programming library of the KVD4093, a USB data-acquisition
card with a multi-channel 16-bit AD converter, DA outputs and digital
inputs and outputs: libkvd4093.so.1 with its headers, CMake package and
pkg-config file; the stream library libkvd4093stream.so.1 (background
acquisition into a bounded buffer) with its header and pkg-config file;
the command-line tool kvd4093 (list, acquire, digital and
analog I/O, settings, doctor); the udev rule that lets users open the
cards. Virtual cards (KVD4093_VIRTUAL_CARDS) let programs run without one.]])
set(CPACK_OUTPUT_FILE_PREFIX ${KVD4093_PACKAGE_OUTPUT})
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${KVD4093_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
# No postrm (udev drops a removed rule at its next reload; the trigger runs
# ldconfig): with one, dpkg -r would keep the package's record until a purge.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/postinst ${CMAKE_CURRENT_LIST_DIR}/triggers)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/DebianDocs.cmake)
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/DebianNoPostrm.cmake)
set(CPACK_KVD4093_CHANGELOG ${PROJECT_BINARY_DIR}/package/changelog)
set(CPACK_KVD4093_DOC_DIR ${KVD4093_DOC_DIR})
set(CPACK_KVD4093_MAN_DIR ${CMAKE_INSTALL_MANDIR})
include(CPack)

# The Python wheel that carries libkvd4093.so.1 and libkvd4093stream.so.1:
# pip install of that one file is all a Python user needs.
add_custom_target(package_wheel
  COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${PROJECT_SOURCE_DIR} -DLIBRARY=$<TARGET_FILE:kvd4093>
          -DLIBRARY_NAME=$<TARGET_SONAME_FILE_NAME:kvd4093> -DSTREAM_LIBRARY=$<TARGET_FILE:kvd4093stream>
          -DSTREAM_LIBRARY_NAME=$<TARGET_SONAME_FILE_NAME:kvd4093stream>
          -DPLATFORM=linux_${CMAKE_SYSTEM_PROCESSOR} -DVERSION=${PROJECT_VERSION}
          -DPYTHON=${KVD4093_PYTHON} -DWORK_DIR=${PROJECT_BINARY_DIR}/package/wheel-linux
          -DOUTPUT_DIR=${KVD4093_PACKAGE_OUTPUT} -P ${CMAKE_CURRENT_LIST_DIR}/PythonWheel.cmake
  DEPENDS kvd4093 kvd4093stream
  COMMENT "Python wheel with libkvd4093.so.1 and libkvd4093stream.so.1"
  VERBATIM)

# The Windows archive and the wheel with the 64-bit DLL, from the Windows builds.
add_custom_target(package_windows
  COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${PROJECT_SOURCE_DIR} -DWIN64_DIR=${KVD4093_WIN64_BUILD}
          -DWIN32_DIR=${KVD4093_WIN32_BUILD} -DVERSION=${PROJECT_VERSION} -DPYTHON=${KVD4093_PYTHON}
          -DWORK_DIR=${PROJECT_BINARY_DIR}/package/windows -DOUTPUT_DIR=${KVD4093_PACKAGE_OUTPUT}
          -P ${CMAKE_CURRENT_LIST_DIR}/WindowsPackages.cmake
  COMMENT "Windows archive and wheel"
  VERBATIM)
