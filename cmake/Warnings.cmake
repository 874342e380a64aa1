# Every target of the project builds without a warning. The project's own
# presets make warnings errors (CMAKE_COMPILE_WARNING_AS_ERROR); a user's
# build of any type only shows them, so a newer compiler's new warning never
# stops it.
if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  add_compile_options(-Wall -Wextra)
endif()
