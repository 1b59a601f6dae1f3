# Warnings for the project's own targets; never exported to consumers.
add_library(quorbel_warnings INTERFACE)
target_compile_options(quorbel_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
  $<$<BOOL:${QUORBEL_WERROR}>:-Werror>)
