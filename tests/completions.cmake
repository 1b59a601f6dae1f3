# Checks that each shell's completion offers every option of the command's
# usage text. Run with
#   cmake -DCOMMAND_SOURCE=cli/arguments.cpp -DCOMPLETIONS=completions -P completions.cmake

cmake_minimum_required(VERSION 3.25)

include(${CMAKE_CURRENT_LIST_DIR}/usage_options.cmake)
read_usage_options("${COMMAND_SOURCE}" letters)
list(LENGTH letters count)
if(count LESS 1)
  message(FATAL_ERROR "found no options in the usage text of ${COMMAND_SOURCE}")
endif()

file(READ "${COMPLETIONS}/quorbel.bash" bash)
file(READ "${COMPLETIONS}/_quorbel" zsh)
file(READ "${COMPLETIONS}/quorbel.fish" fish)
set(problems "")
foreach(letter IN LISTS letters --version)
  # bash lists words, zsh describes "-k[...]", fish says "-s k".
  if(letter STREQUAL "--version")
    set(bash_form "[ ']--version[ '\n]")
    set(zsh_form "--version\\[")
    set(fish_form "-l version ")
  else()
    set(bash_form "[ ']-${letter}[ '\n]")
    set(zsh_form "[)']-${letter}\\[")
    set(fish_form "-s ${letter} ")
  endif()
  foreach(shell IN ITEMS bash zsh fish)
    if(NOT "${${shell}}" MATCHES "${${shell}_form}")
      string(APPEND problems "  the ${shell} completion lacks ${${shell}_form}\n")
    endif()
  endforeach()
endforeach()
if(problems)
  message(FATAL_ERROR "completions and usage text disagree:\n${problems}")
endif()
message(STATUS "the completions offer all ${count} options: ${letters}")
