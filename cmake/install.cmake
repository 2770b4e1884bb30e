# Installation and Debian packaging.
#
# `cmake --install` lays out two components:
#   karvo  the program in bin/ and its manual page in share/man/man1/;
#   devel  the zurud library (static) in lib/, its headers in include/zurud/
#          and the CMake package files in lib/cmake/zurud/, so that another
#          project's find_package(zurud) gives the target zurud::zurud.
# The tests are never installed.
#
# `cpack -G DEB` (`make package`) makes one Debian package per component:
# karvo_<version>_<arch>.deb for users and libzurud-dev_<version>_<arch>.deb
# for programmers. karvo links zurud statically, so the program's package
# needs nothing of the library's and users are not handed headers.

include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# Whoever builds against the installed headers needs C++20 too.
target_compile_features(zurud PUBLIC cxx_std_20)

install(TARGETS karvo
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT karvo)
install(FILES ${PROJECT_SOURCE_DIR}/doc/karvo.1
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT karvo)

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
set(CPACK_PACKAGE_VENDOR "The karvo and Zurud developers")
set(CPACK_PACKAGE_CONTACT "karvo developers <karvo-devel@example.org>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "host character data from associate character data")
set(CPACK_PACKAGE_INSTALL_DIRECTORY karvo)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL karvo devel)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)

set(CPACK_DEBIAN_KARVO_PACKAGE_NAME karvo)
set(CPACK_DEBIAN_KARVO_PACKAGE_SECTION science)
set(CPACK_DEBIAN_DEVEL_PACKAGE_NAME libzurud-dev)
set(CPACK_DEBIAN_DEVEL_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVEL_PACKAGE_ARCHITECTURE_DEPENDS ON)
# Debian descriptions: CPack puts the summary above each of these.
set(CPACK_DEBIAN_KARVO_DESCRIPTION
  "karvo reads a character matrix of associates (parasites, symbionts) and a
file pairing each associate with its hosts, and writes one row per host:
group size, consensus, modal consensus, normalised entropy or state
frequencies, in PHYLIP, extended PHYLIP, commented PHYLIP or NEXUS.")
set(CPACK_DEBIAN_DEVEL_DESCRIPTION
  "Development files of Zurud, the C++20 library karvo is built on:
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
