# Run by CPack on the Debian package's staged files just before it packs
# them: Debian wants a changelog in the documentation folder, and it and the
# manual pages compressed with gzip -9n (no name, no time stamp).
set(root "${CPACK_TEMPORARY_INSTALL_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}")
set(changelog "${root}/${CPACK_KVD4093_DOC_DIR}/changelog")
configure_file("${CPACK_KVD4093_CHANGELOG}" "${changelog}" COPYONLY)
file(GLOB pages "${root}/${CPACK_KVD4093_MAN_DIR}/man*/*[0-9]")
execute_process(COMMAND gzip -9nf "${changelog}" ${pages} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "gzip of the changelog and the manual pages failed (${result})")
endif()
