# Empties (or makes) DIRECTORY: each example test starts from nothing.
file(REMOVE_RECURSE "${DIRECTORY}")
file(MAKE_DIRECTORY "${DIRECTORY}")
