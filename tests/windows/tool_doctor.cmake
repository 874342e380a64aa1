# kvd4093 doctor under Wine: its exit status, and the lines it must print,
# in that order; with NO_CROSS, no line with a cross.
#   cmake "-DRUN=wine-run;PREFIX" -DTOOL=kvd4093.exe -DDIRECTORY=dir -DSTATUS=0 "-DLINES=...;..." [-DNO_CROSS=ON]
#         -P tool_doctor.cmake
file(REMOVE_RECURSE ${DIRECTORY})
file(MAKE_DIRECTORY ${DIRECTORY})
execute_process(COMMAND ${RUN} ${TOOL} doctor
  WORKING_DIRECTORY ${DIRECTORY}
  RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
string(REPLACE "\r\n" "\n" out "${out}")
if(NOT result EQUAL STATUS)
  message(FATAL_ERROR "doctor exited ${result}, not ${STATUS}:\n${out}\n${err}")
endif()
set(rest "${out}")
foreach(line IN LISTS LINES)
  string(FIND "${rest}" "${line}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "doctor did not print \"${line}\" where expected:\n${out}")
  endif()
  string(SUBSTRING "${rest}" ${at} -1 rest)
endforeach()
string(FIND "${out}" "✗" cross)
if(NO_CROSS AND NOT cross EQUAL -1)
  message(FATAL_ERROR "doctor printed a cross:\n${out}")
endif()
message(STATUS "${out}")
