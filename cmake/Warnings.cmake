# Warnings are errors everywhere in the project's own code.
add_compile_options(-Wall -Wextra -Werror -Wno-unused-parameter)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  add_compile_options(-Wno-missing-field-initializers)
endif()
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  # No STB_GNU_UNIQUE symbols: with one a shared library loaded at run time
  # could never be unloaded again.
  add_compile_options(-fno-gnu-unique)
endif()
