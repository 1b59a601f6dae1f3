# What `cmake --install` puts in place: the command, its man page and its
# completions for bash, zsh and fish, the library with its header, a CMake
# package (find_package(quorbel) gives quorbel::version) and a pkg-config
# module, and the SQLite extension when it was built. Then the settings of
# the .deb that CPack makes from the same rules.
include(CMakePackageConfigHelpers)

set(QUORBEL_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/quorbel)

if(TARGET quorbel)
  install(TARGETS quorbel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/docs/quorbel.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  # Where each shell looks under the prefix, without a line of setup.
  install(FILES ${PROJECT_SOURCE_DIR}/completions/quorbel.bash
    DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME quorbel)
  install(FILES ${PROJECT_SOURCE_DIR}/completions/_quorbel
    DESTINATION ${CMAKE_INSTALL_DATADIR}/zsh/site-functions)
  install(FILES ${PROJECT_SOURCE_DIR}/completions/quorbel.fish
    DESTINATION ${CMAKE_INSTALL_DATADIR}/fish/vendor_completions.d)
endif()

install(TARGETS quorbel_version EXPORT quorbelTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
# The SQLite extension lies beside the library: `.load <libdir>/libquorbel_sqlite`.
if(TARGET quorbel_sqlite)
  install(TARGETS quorbel_sqlite LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
endif()
# Installed, the public header is quorbel/version.h, next to the two it
# includes and its export header.
install(FILES ${PROJECT_SOURCE_DIR}/version/include/quorbel/version.h
              ${PROJECT_SOURCE_DIR}/version/include/quorbel/range.h
              ${PROJECT_SOURCE_DIR}/version/include/quorbel/conveniences.h
              ${PROJECT_BINARY_DIR}/include/quorbel/export.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/quorbel)

install(EXPORT quorbelTargets NAMESPACE quorbel:: DESTINATION ${QUORBEL_PACKAGE_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/quorbelConfig.cmake.in
  ${PROJECT_BINARY_DIR}/quorbelConfig.cmake
  INSTALL_DESTINATION ${QUORBEL_PACKAGE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/quorbelConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/quorbelConfig.cmake
              ${PROJECT_BINARY_DIR}/quorbelConfigVersion.cmake
  DESTINATION ${QUORBEL_PACKAGE_DIR})

# The pkg-config module finds the prefix from its own place, so it stays
# right under `cmake --install --prefix`, DESTDIR and the .deb alike.
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(QUORBEL_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
else()
  file(RELATIVE_PATH QUORBEL_PC_UP "/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/")
  string(REGEX REPLACE "/$" "" QUORBEL_PC_UP "${QUORBEL_PC_UP}")
  set(QUORBEL_PC_PREFIX "\${pcfiledir}/${QUORBEL_PC_UP}")
endif()
foreach(dir IN ITEMS LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${dir}}")
    set(QUORBEL_PC_${dir} "${CMAKE_INSTALL_${dir}}")
  else()
    set(QUORBEL_PC_${dir} "\${prefix}/${CMAKE_INSTALL_${dir}}")
  endif()
endforeach()
configure_file(${PROJECT_SOURCE_DIR}/cmake/quorbel.pc.in ${PROJECT_BINARY_DIR}/quorbel.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/quorbel.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# The .deb: `cpack -G DEB` in a build directory.
set(QUORBEL_MAINTAINER "quorbel maintainers <maintainers@quorbel.invalid>"
    CACHE STRING "Maintainer named in the .deb")
set(CPACK_PACKAGE_NAME quorbel)
set(CPACK_PACKAGE_VENDOR quorbel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${QUORBEL_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "quorbel reads lines, takes one field of each as a version, drops the lines"
  "without a valid version, and writes the rest ordered by version precedence."
  "The package also holds its C++ version library, with a CMake package and a"
  "pkg-config module.")
if(TARGET quorbel_sqlite)
  string(APPEND CPACK_PACKAGE_DESCRIPTION
    "\nIts SQLite extension sorts and selects by version inside SQLite databases.")
endif()
set(CPACK_GENERATOR DEB)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${QUORBEL_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Depends comes from dpkg-shlibdeps; a shared library also gets a shlibs file.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build/" "/out/")
