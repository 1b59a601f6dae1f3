# Warnings for the project's own targets; never exported to consumers.
add_library(quorbel_warnings INTERFACE)
target_compile_options(quorbel_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
  $<$<BOOL:${QUORBEL_WERROR}>:-Werror>)
# GCC 12 reports -Wrestrict inside std::string's operator+ at -O3 where no
# overlap can occur (a known false positive of that release).
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  target_compile_options(quorbel_warnings INTERFACE -Wno-restrict)
endif()
