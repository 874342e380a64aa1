# The NuGet package of the .NET binding, Kvd4093.VERSION.nupkg: a zip of
#   Kvd4093.nuspec, [Content_Types].xml, _rels/.rels and the core properties,
#   lib/net461/Kvd4093.dll and its Mono DLL map Kvd4093.dll.config,
#   runtimes/win-x64/native/ and runtimes/win-x86/native/: KVD4093.dll and
#     KVD4093Stream.dll of the win64 and win32 builds, without debug information,
#   runtimes/linux-x64/native/: libkvd4093.so.1 and libkvd4093stream.so.1,
#   build/Kvd4093.targets: copies the right ones next to a .NET Framework program.
# Included by the package build, this file makes the target package_nuget;
# that target runs it again as a script (cmake -P) to pack the files.
if(NOT CMAKE_SCRIPT_MODE_FILE)
  # Made once every folder is read: the binding's target comes later than this file.
  function(kvd4093_add_nuget_package)
    if(NOT TARGET kvd4093_dotnet)
      return() # no mcs or mono here: dotnet/CMakeLists.txt says so
    endif()
    add_custom_target(package_nuget
      COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${PROJECT_SOURCE_DIR} -DVERSION=${PROJECT_VERSION}
              -DASSEMBLY_DIR=${KVD4093_DOTNET_DIR} -DCARD_LIBRARY=$<TARGET_FILE:kvd4093>
              -DSTREAM_LIBRARY=$<TARGET_FILE:kvd4093stream> -DWIN64_DIR=${KVD4093_WIN64_BUILD}
              -DWIN32_DIR=${KVD4093_WIN32_BUILD} -DWORK_DIR=${PROJECT_BINARY_DIR}/package/nuget
              -DOUTPUT_DIR=${KVD4093_PACKAGE_OUTPUT} -P ${KVD4093_NUGET_SCRIPT}
      DEPENDS kvd4093 kvd4093stream kvd4093_dotnet
      COMMENT "NuGet package Kvd4093.${PROJECT_VERSION}.nupkg"
      VERBATIM)
  endfunction()
  set(KVD4093_NUGET_SCRIPT ${CMAKE_CURRENT_LIST_FILE} CACHE INTERNAL "")
  cmake_language(DEFER DIRECTORY ${PROJECT_SOURCE_DIR} CALL kvd4093_add_nuget_package)
  return()
endif()

set(stage "${WORK_DIR}/Kvd4093")
set(layout "${SOURCE_DIR}/dotnet/package")
file(REMOVE_RECURSE "${WORK_DIR}")

find_program(STRIP_X64 x86_64-w64-mingw32-strip)
find_program(STRIP_X86 i686-w64-mingw32-strip)
if(NOT STRIP_X64 OR NOT STRIP_X86)
  message(FATAL_ERROR "the NuGet package needs mingw-w64's strip (Debian: binutils-mingw-w64)")
endif()

# Copies a file into a folder of the package under its own name (a link's
# target under the link's name); with STRIP, without its debug information.
function(take file folder)
  cmake_parse_arguments(ARG "" "STRIP" "" ${ARGN})
  if(NOT EXISTS "${file}")
    message(FATAL_ERROR "${file} is missing: build the Windows presets' kvd4093 and kvd4093stream first (make package does)")
  endif()
  get_filename_component(name "${file}" NAME)
  file(MAKE_DIRECTORY "${stage}/${folder}")
  file(COPY_FILE "${file}" "${stage}/${folder}/${name}")
  if(ARG_STRIP)
    execute_process(COMMAND "${ARG_STRIP}" --strip-debug "${stage}/${folder}/${name}" RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
      message(FATAL_ERROR "${ARG_STRIP} failed on ${name}")
    endif()
  endif()
endfunction()

configure_file("${layout}/Kvd4093.nuspec.in" "${stage}/Kvd4093.nuspec" @ONLY)
configure_file("${layout}/core-properties.psmdcp.in" "${stage}/package/services/metadata/core-properties/kvd4093.psmdcp" @ONLY)
take("${layout}/[Content_Types].xml" .)
take("${layout}/_rels/.rels" _rels)
take("${layout}/Kvd4093.targets" build)
take("${ASSEMBLY_DIR}/Kvd4093.dll" lib/net461)
take("${ASSEMBLY_DIR}/Kvd4093.dll.config" lib/net461)
foreach(dll KVD4093.dll KVD4093Stream.dll)
  take("${WIN64_DIR}/bin/${dll}" runtimes/win-x64/native STRIP "${STRIP_X64}")
  take("${WIN32_DIR}/bin/${dll}" runtimes/win-x86/native STRIP "${STRIP_X86}")
endforeach()
# The libraries under their sonames, the names the DLL map gives.
file(REAL_PATH "${CARD_LIBRARY}" card_library)
file(REAL_PATH "${STREAM_LIBRARY}" stream_library)
file(MAKE_DIRECTORY "${stage}/runtimes/linux-x64/native")
file(COPY_FILE "${card_library}" "${stage}/runtimes/linux-x64/native/libkvd4093.so.1")
file(COPY_FILE "${stream_library}" "${stage}/runtimes/linux-x64/native/libkvd4093stream.so.1")

file(MAKE_DIRECTORY "${OUTPUT_DIR}")
set(package "${OUTPUT_DIR}/Kvd4093.${VERSION}.nupkg")
file(REMOVE "${package}")
# Files alone, no folder entries: a package holds parts, and a folder is none.
file(GLOB_RECURSE parts LIST_DIRECTORIES false RELATIVE "${stage}" "${stage}/*")
execute_process(COMMAND "${CMAKE_COMMAND}" -E tar cf "${package}" --format=zip -- ${parts}
  WORKING_DIRECTORY "${stage}" RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "the NuGet package ${package} was not made (${result})")
endif()
message(STATUS "NuGet package: ${package}")
