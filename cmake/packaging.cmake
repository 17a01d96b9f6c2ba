# Installation of the commands and their manual pages, and a Debian
# package of them: `cmake --install <build>` and `cpack -G DEB` in <build>.
include(GNUInstallDirs)

install(TARGETS stldeck stldeck-check stldeck-prepare stldeck-deck RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES man/stldeck.1 man/stldeck-check.1 man/stldeck-prepare.1 man/stldeck-deck.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
# The companions link CGAL's polygon mesh processing (GPL-3+): the package
# says so in its copyright file.
install(FILES cmake/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME stldeck)
set(CPACK_PACKAGE_VERSION 1.0.0)
set(CPACK_PACKAGE_VENDOR "stldeck developers")
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/cmake/copyright")
set(CPACK_PACKAGE_CONTACT "stldeck developers <stldeck@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "STL model to acoustic boundary-element solver deck converter, a model check, a model preparation and a deck editor")
set(CPACK_PACKAGE_DESCRIPTION
    "stldeck converts the ASCII STL model STL_Model.stl into the input deck of an
acoustic boundary-element solver (input.dat) and a Tecplot mesh view
(input.plt). stldeck-check reads a model with the converter's own scanner
and tells whether it is ready for the solver: closed, consistently
oriented, free of degenerate and repeated facets, and fine enough for the
frequency. stldeck-prepare reads binary or ASCII STL in any common style,
mends what the check finds, remeshes the surface for the frequency, and
writes the model in the style stldeck reads. stldeck-deck shows and verifies
a deck and its view, and sets the deck's medium, frequencies and solver
type in place.")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The libraries the commands need (libstdc++, libc), found by dpkg-shlibdeps
# where it is installed.
find_program(DPKG_SHLIBDEPS dpkg-shlibdeps)
if(DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()
include(CPack)

if(STLDECK_TESTS)
  # Installs into a temporary prefix, runs the installed commands on the
  # sample model, checks the manual pages, and builds the package.
  add_test(NAME install
    COMMAND ${PROJECT_SOURCE_DIR}/tests/install_test.sh ${PROJECT_BINARY_DIR} ${PROJECT_SOURCE_DIR})
  set_tests_properties(install PROPERTIES TIMEOUT 300)
endif()
