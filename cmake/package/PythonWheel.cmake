# Builds a wheel of the Python package that carries the card library and
# the stream library, for one platform: the package's sources and the
# project's CMakeLists.txt (which holds the version) are laid out in WORK_DIR
# as in the source tree, the libraries are put beside the package's modules,
# and pip builds the wheel kvd4093-VERSION-py3-none-PLATFORM.whl into
# OUTPUT_DIR.
#
# cmake -DSOURCE_DIR=... -DLIBRARY=... -DLIBRARY_NAME=libkvd4093.so.1|KVD4093.dll
#       -DSTREAM_LIBRARY=... -DSTREAM_LIBRARY_NAME=libkvd4093stream.so.1|KVD4093Stream.dll
#       -DPLATFORM=linux_x86_64|win_amd64 -DVERSION=... -DPYTHON=... -DWORK_DIR=... -DOUTPUT_DIR=...
#       -P PythonWheel.cmake
foreach(variable SOURCE_DIR LIBRARY LIBRARY_NAME STREAM_LIBRARY STREAM_LIBRARY_NAME PLATFORM VERSION PYTHON WORK_DIR
        OUTPUT_DIR)
  if(NOT DEFINED ${variable} OR "${${variable}}" STREQUAL "")
    message(FATAL_ERROR "PythonWheel.cmake needs -D${variable}=...")
  endif()
endforeach()
foreach(library "${LIBRARY}" "${STREAM_LIBRARY}")
  if(NOT EXISTS "${library}")
    message(FATAL_ERROR "no library to put into the wheel: ${library}")
  endif()
endforeach()

file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}/python/kvd4093" "${OUTPUT_DIR}")
file(COPY "${SOURCE_DIR}/CMakeLists.txt" DESTINATION "${WORK_DIR}")
file(COPY "${SOURCE_DIR}/python/pyproject.toml" "${SOURCE_DIR}/python/setup.py" DESTINATION "${WORK_DIR}/python")
file(GLOB modules "${SOURCE_DIR}/python/kvd4093/*.py")
file(COPY ${modules} DESTINATION "${WORK_DIR}/python/kvd4093")
file(COPY_FILE "${LIBRARY}" "${WORK_DIR}/python/kvd4093/${LIBRARY_NAME}")
file(COPY_FILE "${STREAM_LIBRARY}" "${WORK_DIR}/python/kvd4093/${STREAM_LIBRARY_NAME}")

set(wheel "${OUTPUT_DIR}/kvd4093-${VERSION}-py3-none-${PLATFORM}.whl")
file(REMOVE "${wheel}")
execute_process(
  COMMAND "${PYTHON}" -m pip wheel --no-build-isolation --no-deps --no-index --quiet
          "--config-settings=--build-option=--plat-name=${PLATFORM}" --wheel-dir "${OUTPUT_DIR}" "${WORK_DIR}/python"
  RESULT_VARIABLE result)
if(NOT result EQUAL 0 OR NOT EXISTS "${wheel}")
  message(FATAL_ERROR "pip did not build ${wheel} (${result}); it needs setuptools, wheel and pip "
                      "(Debian: python3-setuptools python3-wheel python3-pip)")
endif()
message(STATUS "Python wheel: ${wheel}")
