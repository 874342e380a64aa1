# The tool's acquisition on card 0 of the software card driver, traced:
# 4000 scans of channels 0 to 3 at 10 kS/s into a.csv.
#   cmake -DRUN="wine-run;PREFIX" -DTOOL=kvd4093.exe -DDIRECTORY=dir -P tool_acquire.cmake
file(REMOVE_RECURSE ${DIRECTORY})
file(MAKE_DIRECTORY ${DIRECTORY})
set(ENV{KVD4093_TRACE} trace.txt)
execute_process(
  COMMAND ${RUN} ${TOOL} acquire --channels 0-3 --rate 10k --samples 4000 --output a.csv
  WORKING_DIRECTORY ${DIRECTORY}
  RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "acquire failed (${result}):\n${out}\n${err}")
endif()

file(STRINGS ${DIRECTORY}/a.csv lines)
list(LENGTH lines count)
list(GET lines 0 header)
if(NOT header STREQUAL "scan,time_s,ch0,ch1,ch2,ch3" OR NOT count EQUAL 4001)
  message(FATAL_ERROR "a.csv: header '${header}', ${count} lines (want 4001)")
endif()

# Set-up on pipe 0 (two range packets, configuration, start), reads on pipe
# 2, and the stop, all on card 0.
file(STRINGS ${DIRECTORY}/trace.txt trace)
foreach(expected
    "card=0 BULK_WRITE pipe=1 len=512 ret=512 ok=1 data=011f0010"
    "card=0 BULK_WRITE pipe=0 len=512 ret=512 ok=1 data=012080"
    "card=0 BULK_WRITE pipe=0 len=512 ret=512 ok=1 data=0301"
    "card=0 BULK_READ pipe=2 len=1024 ret=1024 ok=1"
    "card=0 BULK_WRITE pipe=0 len=512 ret=512 ok=1 data=0300")
  string(FIND "${trace}" "${expected}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "trace.txt lacks '${expected}':\n${trace}")
  endif()
endforeach()
message(STATUS "a.csv: 4000 scans; trace: ${DIRECTORY}/trace.txt")
