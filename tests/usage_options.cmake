# The options of the command's usage text, read from its source: sets
# <variable> to their letters (k for "\t-k <num>   ..."). Included by the
# scripts that hold the man page and the completions to the usage text.
function(read_usage_options command_source variable)
  file(READ "${command_source}" source)
  string(FIND "${source}" "USAGE_LINES[] = {" start)
  if(start EQUAL -1)
    message(FATAL_ERROR "no USAGE_LINES array in ${command_source}")
  endif()
  string(SUBSTRING "${source}" ${start} -1 usage)
  string(FIND "${usage}" "};" stop)
  string(SUBSTRING "${usage}" 0 ${stop} usage)
  # An option line of the usage text starts with a tab: "\t-k <num>   ...".
  string(REGEX MATCHALL "\"\\\\t-[A-Za-z]" letters "${usage}")
  list(TRANSFORM letters REPLACE "^\"\\\\t-" "")
  set(${variable} "${letters}" PARENT_SCOPE)
endfunction()
