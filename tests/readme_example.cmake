# Checks that the first C++ example of the README's library section is, but
# for its #include line, word for word in tests/consumer/main.cpp, which
# .ci/check-install builds and runs against an installed quorbel. Run with
#   cmake -DREADME=README.md -DCONSUMER=tests/consumer/main.cpp -P readme_example.cmake

cmake_minimum_required(VERSION 3.25)

file(READ "${README}" readme)
string(FIND "${readme}" "## Using the library from C++" section)
if(section EQUAL -1)
  message(FATAL_ERROR "no library section in ${README}")
endif()
string(SUBSTRING "${readme}" ${section} -1 readme)
set(opening "```cpp\n#include <quorbel/version.h>\n\n")
string(FIND "${readme}" "${opening}" start)
if(start EQUAL -1)
  message(FATAL_ERROR "the library section of ${README} has no example that includes the header")
endif()
string(LENGTH "${opening}" skip)
math(EXPR start "${start} + ${skip}")
string(SUBSTRING "${readme}" ${start} -1 example)
string(FIND "${example}" "```" stop)
string(SUBSTRING "${example}" 0 ${stop} example)

file(READ "${CONSUMER}" consumer)
string(FIND "${consumer}" "${example}" found)
if(found EQUAL -1)
  message(FATAL_ERROR "the README's library example is not word for word in ${CONSUMER}")
endif()
