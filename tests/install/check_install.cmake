# Installs the build into WORK_DIR/prefix and checks what an application
# developer gets: the headers, the card and stream libraries with their
# SONAME links, the CMake package and the pkg-config files; then builds and runs a C program against
# the install, once through find_package(KVD4093) and once through pkg-config.
#
# cmake -DBUILD_DIR=... -DWORK_DIR=... -DCONSUMER_DIR=... -DC_COMPILER=... -DGENERATOR=... -P check_install.cmake

function(run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${what} failed (${result}):\n${output}")
  endif()
  set(run_output "${output}" PARENT_SCOPE)
endfunction()

function(expect_one pattern variable)
  file(GLOB_RECURSE found "${WORK_DIR}/prefix/${pattern}")
  list(LENGTH found count)
  if(NOT count EQUAL 1)
    message(FATAL_ERROR "expected one ${pattern} in the install, found: ${found}")
  endif()
  set(${variable} "${found}" PARENT_SCOPE)
endfunction()

# The program runs with a profile of its own and writes its log file here.
function(expect_consumer_output program)
  run("running ${program}" ${CMAKE_COMMAND} -E chdir ${WORK_DIR}
      ${CMAKE_COMMAND} -E env XDG_CONFIG_HOME=${WORK_DIR}/config KVD4093_VIRTUAL_CARDS= ${program})
  if(NOT run_output STREQUAL "C:\\OLM\\KVD4093 25000\n")
    message(FATAL_ERROR "${program} printed \"${run_output}\"")
  endif()
endfunction()

file(REMOVE_RECURSE ${WORK_DIR})
run("install" ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${WORK_DIR}/prefix)

expect_one("include/KVD4093.h" header)
expect_one("include/KVD4093_posix.h" posix_header)
expect_one("libkvd4093.so" library_link)
expect_one("libkvd4093.so.1" soname_link)
expect_one("libkvd4093.so.1.0.0" library)
expect_one("KVD4093Config.cmake" package)
expect_one("KVD4093ConfigVersion.cmake" package_version)
expect_one("kvd4093.pc" pc_file)
expect_one("include/KVD4093_stream.h" stream_header)
expect_one("libkvd4093stream.so.1" stream_soname_link)
expect_one("kvd4093stream.pc" stream_pc_file)
expect_one("lib/udev/rules.d/70-kvd4093.rules" udev_rule)
file(GLOB_RECURSE stray "${WORK_DIR}/prefix/*kvd4093_core*")
if(stray)
  message(FATAL_ERROR "the static core is not for installing: ${stray}")
endif()

# Nothing installed reads a test's environment variable: no name with TEST
# in it (KVD4093TESTS_..., ..._TEST_...) among the strings of a program or
# library, as `strings` would show them.
file(GLOB_RECURSE shipped "${WORK_DIR}/prefix/bin/*" "${WORK_DIR}/prefix/lib/*.so*")
foreach(file IN LISTS shipped)
  file(STRINGS "${file}" test_names REGEX "[A-Z0-9_]*(TEST[A-Z0-9]*_|_[A-Z0-9]*TEST)[A-Z0-9_]*")
  if(test_names)
    message(FATAL_ERROR "${file} holds the name of a test's variable: ${test_names}")
  endif()
endforeach()

# find_package(KVD4093) and the target KVD4093::kvd4093.
run("configuring the consumer" ${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${WORK_DIR}/consumer -G ${GENERATOR}
    -DCMAKE_PREFIX_PATH=${WORK_DIR}/prefix -DCMAKE_C_COMPILER=${C_COMPILER} -DCMAKE_BUILD_TYPE=Release)
run("building the consumer" ${CMAKE_COMMAND} --build ${WORK_DIR}/consumer)
expect_consumer_output(${WORK_DIR}/consumer/consumer)

# pkg-config, where the machine has it.
find_program(PKG_CONFIG pkg-config)
if(PKG_CONFIG)
  get_filename_component(pc_dir ${pc_file} DIRECTORY)
  run("pkg-config" ${CMAKE_COMMAND} -E env PKG_CONFIG_PATH=${pc_dir} ${PKG_CONFIG} --cflags --libs kvd4093)
  string(STRIP "${run_output}" flags)
  separate_arguments(flags UNIX_COMMAND "${flags}")
  get_filename_component(library_dir ${library} DIRECTORY)
  run("compiling with pkg-config's flags" ${C_COMPILER} ${CONSUMER_DIR}/main.c ${flags}
      -Wl,-rpath,${library_dir} -o ${WORK_DIR}/consumer_pc)
  expect_consumer_output(${WORK_DIR}/consumer_pc)
else()
  message(STATUS "pkg-config not found: kvd4093.pc installed but not tried")
endif()
