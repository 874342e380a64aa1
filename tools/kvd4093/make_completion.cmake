# Fills the bash completion's template with the commands and their options
# as the built tool lists them from its option tables (`kvd4093 help
# --options`). Run at build time: cmake -DTOOL=... -DTEMPLATE=... -DOUTPUT=... -P
execute_process(COMMAND ${TOOL} help --options
  OUTPUT_VARIABLE KVD4093_OPTION_LIST RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${TOOL} help --options failed (${status})")
endif()
string(STRIP "${KVD4093_OPTION_LIST}" KVD4093_OPTION_LIST)
configure_file(${TEMPLATE} ${OUTPUT} @ONLY)
# configure_file leaves an unchanged file's time alone: newer than the tool
# now, so that the build does not make it again.
file(TOUCH ${OUTPUT})
