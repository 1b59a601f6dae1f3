# Checks that docs/quorbel.1 documents exactly the options of the command's
# usage text. Run with
#   cmake -DCOMMAND_SOURCE=cli/arguments.cpp -DMAN_PAGE=docs/quorbel.1 -P man_page.cmake

cmake_minimum_required(VERSION 3.25)

include(${CMAKE_CURRENT_LIST_DIR}/usage_options.cmake)
read_usage_options("${COMMAND_SOURCE}" letters)
list(TRANSFORM letters PREPEND "-" OUTPUT_VARIABLE usage_options)

file(READ "${MAN_PAGE}" page)
string(REGEX REPLACE ".*\n\\.SH OPTIONS\n" "" options_section "${page}")
string(REGEX REPLACE "\n\\.SH .*" "" options_section "${options_section}")
if(options_section STREQUAL page)
  message(FATAL_ERROR "no OPTIONS section in ${MAN_PAGE}")
endif()
# Each option is the tag of a .TP paragraph: ".B \-q" or ".BI \-k \" num\"".
string(REGEX MATCHALL "\\.TP\n\\.BI? \\\\-[A-Za-z]" man_options "${options_section}")
list(TRANSFORM man_options REPLACE "^\\.TP\n\\.BI? \\\\" "")

list(LENGTH usage_options count)
if(count LESS 1)
  message(FATAL_ERROR "found no options in the usage text of ${COMMAND_SOURCE}")
endif()
set(problems "")
foreach(option IN LISTS usage_options)
  if(NOT option IN_LIST man_options)
    string(APPEND problems "  ${option} is in the usage text but not in the man page\n")
  endif()
endforeach()
foreach(option IN LISTS man_options)
  if(NOT option IN_LIST usage_options)
    string(APPEND problems "  ${option} is in the man page but not in the usage text\n")
  endif()
endforeach()
if(problems)
  message(FATAL_ERROR "man page and usage text disagree:\n${problems}")
endif()
message(STATUS "man page documents all ${count} options: ${usage_options}")
