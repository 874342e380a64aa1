# Fills the bash completion's template with the commands and their options
# as the built tool lists them from its option tables (`kvd4093 help
# --options`), and the formats from its format table (`help --formats`).
# Run at build time: cmake -DTOOL=... -DTEMPLATE=... -DOUTPUT=... -P
execute_process(COMMAND ${TOOL} help --options
  OUTPUT_VARIABLE KVD4093_OPTION_LIST RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${TOOL} help --options failed (${status})")
endif()
string(STRIP "${KVD4093_OPTION_LIST}" KVD4093_OPTION_LIST)
# The formats, "NAME .EXTENSION" a line: the names for --format, the
# extensions (without their dot) for the files --output offers.
execute_process(COMMAND ${TOOL} help --formats
  OUTPUT_VARIABLE format_list RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${TOOL} help --formats failed (${status})")
endif()
string(STRIP "${format_list}" format_list)
string(REPLACE "\n" ";" format_list "${format_list}")
set(KVD4093_FORMAT_NAMES)
set(KVD4093_FORMAT_EXTENSIONS)
foreach(format IN LISTS format_list)
  string(REGEX MATCH "^([^ ]+) \\.([^ ]+)$" matched "${format}")
  if(NOT matched)
    message(FATAL_ERROR "${TOOL} help --formats: \"${format}\" is no \"NAME .EXTENSION\"")
  endif()
  list(APPEND KVD4093_FORMAT_NAMES ${CMAKE_MATCH_1})
  list(APPEND KVD4093_FORMAT_EXTENSIONS ${CMAKE_MATCH_2})
endforeach()
list(JOIN KVD4093_FORMAT_NAMES " " KVD4093_FORMAT_NAMES)
list(JOIN KVD4093_FORMAT_EXTENSIONS "|" KVD4093_FORMAT_EXTENSIONS)
configure_file(${TEMPLATE} ${OUTPUT} @ONLY)
# configure_file leaves an unchanged file's time alone: newer than the tool
# now, so that the build does not make it again.
file(TOUCH ${OUTPUT})
