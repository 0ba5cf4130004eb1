# The Debian package "dalvora" (cpack -G DEB, see scripts/package.sh):
# everything "cmake --install" puts under the prefix, which is /usr.
set(_docdir ${CMAKE_INSTALL_DATADIR}/doc/dalvora)
# The package's version is the project's, and the change log's newest entry
# must name it: dpkg and lintian read the version there too. Bumping the
# version in project() therefore needs an entry in packaging/changelog.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/packaging/changelog)
file(STRINGS ${PROJECT_SOURCE_DIR}/packaging/changelog _newest_entry LIMIT_COUNT 1)
string(REGEX MATCH "^dalvora \\(([^)]*)\\)" _ "${_newest_entry}")
if(NOT CMAKE_MATCH_1 STREQUAL PROJECT_VERSION)
  message(FATAL_ERROR "packaging/changelog: the newest entry is for version '${CMAKE_MATCH_1}', "
    "the project's is ${PROJECT_VERSION}: add an entry for ${PROJECT_VERSION}")
endif()
# Debian wants the change log compressed, reproducibly (no name, no time).
set(_changelog ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/packaging)
execute_process(COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/packaging/changelog
  OUTPUT_FILE ${_changelog} COMMAND_ERROR_IS_FATAL ANY)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${_changelog} DESTINATION ${_docdir})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME dalvora)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Dalvora team <dalvora@example.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "find and configure industrial Ethernet I/O modules")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Dalvora finds every I/O module on the LAN segment by a UDP broadcast, lists
what each one reports (name, alias, DHCP mode, address, mask, gateway, MAC)
and changes the network settings of one module or of many at once,
proposing free addresses of the host's subnet found by ICMP echo.
.
The package also holds the Zarfel library that speaks the modules'
protocol, with its C header, a pkg-config file and a CMake package.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_STRIP_FILES ON)
# Depends from the ELF files' needs; Qt's platform plugins are loaded at run
# time, which no shared library dependency shows.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/library)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
# Help opens main.chm with the desktop's viewer.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xchm, xdg-utils")
# A shlibs file and the ldconfig trigger, as any package with a library has;
# the scripts given replace CPack's own, which would call ldconfig directly.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/triggers
  ${PROJECT_SOURCE_DIR}/packaging/postinst ${PROJECT_SOURCE_DIR}/packaging/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR}/package)
include(CPack)
