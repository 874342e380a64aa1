# The Windows packages, made from the files of the Windows builds:
#  - kvd4093-VERSION-windows.zip: both DLLs of the card library and both of
#    the stream library with their import libraries, the card library's
#    export table (.def), the headers, the 64-bit tool and examples, the
#    software card driver with its installer and a note on test signing, and
#    the documentation; the DLLs and programs without their debug information;
#  - kvd4093-VERSION-py3-none-win_amd64.whl: the Python package with the two 64-bit DLLs.
#
# cmake -DSOURCE_DIR=... -DWIN64_DIR=build/win64 -DWIN32_DIR=build/win32 -DVERSION=... -DPYTHON=...
#       -DWORK_DIR=... -DOUTPUT_DIR=... -P WindowsPackages.cmake
set(name kvd4093-${VERSION}-windows)
set(stage "${WORK_DIR}/${name}")
file(REMOVE_RECURSE "${WORK_DIR}")

find_program(STRIP_X64 x86_64-w64-mingw32-strip)
find_program(STRIP_X86 i686-w64-mingw32-strip)
if(NOT STRIP_X64 OR NOT STRIP_X86)
  message(FATAL_ERROR "the Windows packages need mingw-w64's strip (Debian: binutils-mingw-w64)")
endif()

# Copies a file into a folder of the archive; with STRIP, without its debug information.
function(take file folder)
  cmake_parse_arguments(ARG "" "STRIP" "" ${ARGN})
  if(NOT EXISTS "${file}")
    message(FATAL_ERROR "${file} is missing: build the Windows presets first (make package does)")
  endif()
  file(COPY "${file}" DESTINATION "${stage}/${folder}")
  if(ARG_STRIP)
    get_filename_component(file_name "${file}" NAME)
    execute_process(COMMAND "${ARG_STRIP}" --strip-debug "${stage}/${folder}/${file_name}" RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
      message(FATAL_ERROR "${ARG_STRIP} failed on ${file_name}")
    endif()
  endif()
endfunction()

take("${WIN64_DIR}/bin/KVD4093.dll" x64 STRIP "${STRIP_X64}")
take("${WIN64_DIR}/src/libKVD4093.dll.a" x64)
take("${WIN64_DIR}/bin/KVD4093Stream.dll" x64 STRIP "${STRIP_X64}")
take("${WIN64_DIR}/stream/libKVD4093Stream.dll.a" x64)
take("${WIN64_DIR}/bin/kvd4093.exe" x64 STRIP "${STRIP_X64}")
# Every example, built as example_<name> from examples/<name>.c.
file(GLOB example_sources "${SOURCE_DIR}/examples/*.c")
foreach(source IN LISTS example_sources)
  get_filename_component(example "${source}" NAME_WE)
  take("${WIN64_DIR}/bin/example_${example}.exe" x64 STRIP "${STRIP_X64}")
endforeach()
take("${WIN32_DIR}/bin/KVD4093.dll" x86 STRIP "${STRIP_X86}")
take("${WIN32_DIR}/src/libKVD4093.dll.a" x86)
take("${WIN32_DIR}/bin/KVD4093Stream.dll" x86 STRIP "${STRIP_X86}")
take("${WIN32_DIR}/stream/libKVD4093Stream.dll.a" x86)
take("${WIN64_DIR}/bin/kvd4093card.sys" driver)
take("${WIN64_DIR}/bin/kvd4093card.exe" driver STRIP "${STRIP_X64}")
take("${SOURCE_DIR}/testcards/windows_driver/TEST-SIGNING.txt" driver)
take("${SOURCE_DIR}/include/KVD4093.h" include)
take("${SOURCE_DIR}/include/KVD4093_stream.h" include)
take("${SOURCE_DIR}/src/host/KVD4093.def" .)
take("${SOURCE_DIR}/README.md" .)
file(GLOB pages "${SOURCE_DIR}/docs/*.md")
foreach(page IN LISTS pages)
  take("${page}" docs)
endforeach()
foreach(source IN LISTS example_sources)
  take("${source}" examples)
endforeach()

file(MAKE_DIRECTORY "${OUTPUT_DIR}")
set(archive "${OUTPUT_DIR}/${name}.zip")
file(REMOVE "${archive}")
execute_process(COMMAND "${CMAKE_COMMAND}" -E tar cf "${archive}" --format=zip "${name}"
  WORKING_DIRECTORY "${WORK_DIR}" RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "the archive ${archive} was not made (${result})")
endif()
message(STATUS "Windows archive: ${archive}")

execute_process(
  COMMAND "${CMAKE_COMMAND}" -DSOURCE_DIR=${SOURCE_DIR} -DLIBRARY=${stage}/x64/KVD4093.dll -DLIBRARY_NAME=KVD4093.dll
          -DSTREAM_LIBRARY=${stage}/x64/KVD4093Stream.dll -DSTREAM_LIBRARY_NAME=KVD4093Stream.dll
          -DPLATFORM=win_amd64 -DVERSION=${VERSION} -DPYTHON=${PYTHON} -DWORK_DIR=${WORK_DIR}/wheel
          -DOUTPUT_DIR=${OUTPUT_DIR} -P ${CMAKE_CURRENT_LIST_DIR}/PythonWheel.cmake
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "the Windows wheel was not made")
endif()
