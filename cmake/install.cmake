# Installation and Debian packaging.
#
# `cmake --install` lays out two components:
#   karvo  the three programs (karvo, hostdist, fasta2matrix) in bin/, their
#          manual pages (gzipped) in share/man/man1/, their bash completions
#          in share/bash-completion/completions/, and under share/doc/karvo/
#          the copyright file, the change logs, the README and the examples;
#   devel  the zurud library (static) in lib/, its headers in include/zurud/
#          and the CMake package files in lib/cmake/zurud/, so that another
#          project's find_package(zurud) gives the target zurud::zurud; its
#          own copyright file and change log under share/doc/libzurud-dev/.
# The tests are never installed.
#
# `cpack -G DEB` (`make package`) makes one Debian package per component:
# karvo_<version>-1_<arch>.deb for users and libzurud-dev_<version>-1_<arch>.deb
# for programmers. karvo links zurud statically, so the program's package
# needs nothing of the library's and users are not handed headers.

include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# Whoever builds against the installed headers needs C++20 too.
target_compile_features(zurud PUBLIC cxx_std_20)

set(ZURUD_PROGRAMS karvo hostdist fasta2matrix)
install(TARGETS ${ZURUD_PROGRAMS}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT karvo)

# Debian wants manual pages and change logs compressed with gzip -9n (-n: no
# name or time stamp inside, so that rebuilds give the same bytes).
find_program(ZURUD_GZIP gzip REQUIRED)
set(ZURUD_DOC_BUILD ${PROJECT_BINARY_DIR}/doc)
function(zurud_gzip source target)
  add_custom_command(OUTPUT ${target}
    COMMAND ${ZURUD_GZIP} -9nc ${source} > ${target}
    DEPENDS ${source} VERBATIM)
endfunction()
set(zurud_gzipped)
foreach(program ${ZURUD_PROGRAMS})
  zurud_gzip(${PROJECT_SOURCE_DIR}/doc/${program}.1
             ${ZURUD_DOC_BUILD}/${program}.1.gz)
  list(APPEND zurud_gzipped ${ZURUD_DOC_BUILD}/${program}.1.gz)
  install(FILES ${ZURUD_DOC_BUILD}/${program}.1.gz
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT karvo)
  install(FILES ${PROJECT_SOURCE_DIR}/completion/${program}
    DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
    COMPONENT karvo)
endforeach()

# The Debian change log of each package: one entry per release, newest
# first, made from doc/changelog.Debian.in with the package's name.
foreach(package karvo libzurud-dev)
  set(ZURUD_DEB_PACKAGE ${package})
  configure_file(${PROJECT_SOURCE_DIR}/doc/changelog.Debian.in
                 ${ZURUD_DOC_BUILD}/${package}/changelog.Debian @ONLY)
  zurud_gzip(${ZURUD_DOC_BUILD}/${package}/changelog.Debian
             ${ZURUD_DOC_BUILD}/${package}/changelog.Debian.gz)
  list(APPEND zurud_gzipped ${ZURUD_DOC_BUILD}/${package}/changelog.Debian.gz)
endforeach()
zurud_gzip(${PROJECT_SOURCE_DIR}/NEWS.md ${ZURUD_DOC_BUILD}/changelog.gz)
list(APPEND zurud_gzipped ${ZURUD_DOC_BUILD}/changelog.gz)
add_custom_target(zurud_docs ALL DEPENDS ${zurud_gzipped})

set(ZURUD_DOCDIR ${CMAKE_INSTALL_DATADIR}/doc)
install(FILES
  ${PROJECT_SOURCE_DIR}/doc/copyright
  ${ZURUD_DOC_BUILD}/karvo/changelog.Debian.gz
  ${ZURUD_DOC_BUILD}/changelog.gz
  ${PROJECT_SOURCE_DIR}/README.md
  ${PROJECT_SOURCE_DIR}/CITATION.cff
  DESTINATION ${ZURUD_DOCDIR}/karvo COMPONENT karvo)
install(FILES ${PROJECT_SOURCE_DIR}/doc/lintian/karvo
  DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides COMPONENT karvo)
# The example data and the workflow, without what a run of it leaves and
# without its CI script.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/
  DESTINATION ${ZURUD_DOCDIR}/karvo/examples COMPONENT karvo
  PATTERN ci.sh EXCLUDE PATTERN .gitignore EXCLUDE
  PATTERN results EXCLUDE PATTERN .snakemake EXCLUDE)
install(FILES
  ${PROJECT_SOURCE_DIR}/doc/copyright
  ${ZURUD_DOC_BUILD}/libzurud-dev/changelog.Debian.gz
  DESTINATION ${ZURUD_DOCDIR}/libzurud-dev COMPONENT devel)

set(ZURUD_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/zurud)
file(GLOB zurud_headers CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/zurud/*.hpp)
install(TARGETS zurud EXPORT zurudTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT devel
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT devel
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${zurud_headers}
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/zurud COMPONENT devel)
install(EXPORT zurudTargets NAMESPACE zurud::
  DESTINATION ${ZURUD_CMAKE_DIR} COMPONENT devel)

configure_package_config_file(
  ${CMAKE_CURRENT_LIST_DIR}/zurudConfig.cmake.in
  ${PROJECT_BINARY_DIR}/zurudConfig.cmake
  INSTALL_DESTINATION ${ZURUD_CMAKE_DIR})
# Until 2.0 every 1.x release keeps the interface of 1.0.
write_basic_package_version_file(
  ${PROJECT_BINARY_DIR}/zurudConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES
  ${PROJECT_BINARY_DIR}/zurudConfig.cmake
  ${PROJECT_BINARY_DIR}/zurudConfigVersion.cmake
  DESTINATION ${ZURUD_CMAKE_DIR} COMPONENT devel)

# ---------------------------------------------------------------------------
# Debian packages.

set(CPACK_PACKAGE_NAME karvo)
set(CPACK_PACKAGE_VENDOR "The karvo developers")
set(CPACK_PACKAGE_CONTACT "karvo developers <karvo-devel@example.org>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_INSTALL_DIRECTORY karvo)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL karvo devel)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Debian revision 1 of the release: the packaging is not a Debian
# maintainer's, so the version has upstream and Debian parts
# (changelog.Debian.gz, not a native package's changelog.gz).
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_KARVO_PACKAGE_NAME karvo)
set(CPACK_DEBIAN_KARVO_PACKAGE_SECTION science)
set(CPACK_DEBIAN_DEVEL_PACKAGE_NAME libzurud-dev)
set(CPACK_DEBIAN_DEVEL_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVEL_PACKAGE_ARCHITECTURE_DEPENDS ON)
# Each package's description begins with its own summary line. CPack would
# put one CPACK_PACKAGE_DESCRIPTION_SUMMARY above both, so that stays unset.
set(CPACK_DEBIAN_KARVO_DESCRIPTION
  "host character data from associate character data
karvo reads a character matrix of associates (parasites, symbionts) and a
file pairing each associate with its hosts, and writes one row per host:
group size, consensus, modal consensus, normalised entropy or state
frequencies, in PHYLIP, extended PHYLIP, commented PHYLIP or NEXUS.
The package also holds hostdist (distances between hosts from distances
between their associates) and fasta2matrix (a FASTA alignment to a
character matrix).")
set(CPACK_DEBIAN_DEVEL_DESCRIPTION
  "C++20 library for host and associate character matrices (development)
Development files of Zurud, the C++20 library karvo is built on:
character matrices, their readers and writers, associations, host analyses,
taxon collections. This package holds the static library, the headers and
the CMake package files that make find_package(zurud) give the target
zurud::zurud.")

# dpkg-shlibdeps (package dpkg-dev) reads the C and C++ run-time libraries
# that the program needs from the binary; without it the list is written out.
find_program(ZURUD_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(ZURUD_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_KARVO_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_KARVO_PACKAGE_DEPENDS "libc6, libgcc-s1, libstdc++6")
endif()

include(CPack)
