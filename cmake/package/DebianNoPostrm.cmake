# Run by CPack on the Debian package it made. CPack gives a package with a
# library in /usr/lib a postrm that runs ldconfig, which the package's
# ldconfig trigger does already on removal; and dpkg keeps the record of a
# package with a postrm after dpkg -r (state config-files) until it is
# purged. The package is packed again without it, so that dpkg -r leaves
# nothing of it.
foreach(deb IN LISTS CPACK_PACKAGE_FILES)
  set(tree "${CPACK_TOPLEVEL_DIRECTORY}/repacked")
  file(REMOVE_RECURSE "${tree}")
  # The files keep their modes also where a user's umask would take some away.
  execute_process(COMMAND sh -c "umask 022 && dpkg-deb --raw-extract \"$1\" \"$2\"" sh "${deb}" "${tree}"
    RESULT_VARIABLE extracted)
  file(REMOVE "${tree}/DEBIAN/postrm")
  execute_process(COMMAND dpkg-deb --root-owner-group --build "${tree}" "${deb}"
    OUTPUT_QUIET RESULT_VARIABLE packed)
  if(NOT extracted EQUAL 0 OR NOT packed EQUAL 0)
    message(FATAL_ERROR "${deb} could not be packed again without its postrm")
  endif()
  file(REMOVE_RECURSE "${tree}")
endforeach()
