# The Debian packages (cpack -G DEB, see scripts/package.sh), one per
# install component, as Debian splits a program with a shared library:
#   dalvora        (component program) the program, zarfelcli, help, docs;
#   libzarfel1     (component library) the shared library, named after its
#                  soname, so that two major versions can be installed together;
#   libzarfel-dev  (component dev)     header, link name, pkg-config and CMake files.
# Install rules without a component belong to the program (CMakeLists.txt).
set(_docdir ${CMAKE_INSTALL_DATADIR}/doc)
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
# Debian wants the change log and manual pages compressed, reproducibly (no
# name, no time).
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/packaging)
function(_dalvora_gzip source output)
  execute_process(COMMAND gzip -9nc ${source} OUTPUT_FILE ${output} COMMAND_ERROR_IS_FATAL ANY)
endfunction()
set(_changelog ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
_dalvora_gzip(${PROJECT_SOURCE_DIR}/packaging/changelog ${_changelog})
# Every package carries its own copyright and change log.
foreach(_pkg IN ITEMS program:dalvora library:libzarfel1 dev:libzarfel-dev)
  string(REPLACE ":" ";" _pkg "${_pkg}")
  list(GET _pkg 0 _component)
  list(GET _pkg 1 _name)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${_changelog}
    DESTINATION ${_docdir}/${_name} COMPONENT ${_component})
endforeach()
# The README the program's log points to, where the program looks for it.
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${_docdir}/dalvora COMPONENT program)
foreach(_page search zarfelcli)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/${_page}.1.in ${CMAKE_BINARY_DIR}/packaging/${_page}.1 @ONLY)
  _dalvora_gzip(${CMAKE_BINARY_DIR}/packaging/${_page}.1 ${CMAKE_BINARY_DIR}/packaging/${_page}.1.gz)
  install(FILES ${CMAKE_BINARY_DIR}/packaging/${_page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
    COMPONENT program)
endforeach()
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
  ${PROJECT_SOURCE_DIR}/packaging/search.1.in ${PROJECT_SOURCE_DIR}/packaging/zarfelcli.1.in)
configure_file(${PROJECT_SOURCE_DIR}/packaging/com.example.Dalvora.metainfo.xml.in
  ${CMAKE_BINARY_DIR}/packaging/com.example.Dalvora.metainfo.xml @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/packaging/com.example.Dalvora.metainfo.xml
  DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT program)

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL program library dev)
set(CPACK_PACKAGE_NAME dalvora)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Dalvora team <dalvora@example.com>")
set(CPACK_DEBIAN_PACKAGE_SOURCE dalvora)
# No CPACK_PACKAGE_DESCRIPTION_SUMMARY: CPack would put it before each
# package's description, whose first line is its own synopsis.
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR}/package)
# Each package depends on the library package of exactly this version.
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_COMPONENT_PROGRAM_DEPENDS library)
set(CPACK_COMPONENT_DEV_DEPENDS library)

set(CPACK_DEBIAN_PROGRAM_PACKAGE_NAME dalvora)
set(CPACK_DEBIAN_PROGRAM_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PROGRAM_DESCRIPTION "find and configure industrial Ethernet I/O modules
Dalvora finds every I/O module on the LAN segment by a UDP broadcast, lists
what each one reports (name, alias, DHCP mode, address, mask, gateway, MAC)
and changes the network settings of one module or of many at once,
proposing free addresses of the host's subnet found by ICMP echo.
.
This package holds the program search and the console tool zarfelcli.")
# Depends from the ELF files' needs; Qt's platform plugins are loaded at run
# time, which no shared library dependency shows. The library of the
# build folder is found there, its package named by the component depends.
set(CPACK_DEBIAN_PROGRAM_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/library)
set(CPACK_DEBIAN_PROGRAM_PACKAGE_DEPENDS "qt6-qpa-plugins")
# Help opens main.chm with the desktop's viewer.
set(CPACK_DEBIAN_PROGRAM_PACKAGE_RECOMMENDS "xchm, xdg-utils")

set(CPACK_DEBIAN_LIBRARY_PACKAGE_NAME libzarfel1)
set(CPACK_DEBIAN_LIBRARY_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_LIBRARY_DESCRIPTION "Zarfel I/O module library to find and configure Ethernet I/O modules
Zarfel speaks the protocol of Dalvora's I/O modules: it finds every module
on the LAN segment by a UDP broadcast and changes a module's network
settings.
.
This package holds the shared library.")
set(CPACK_DEBIAN_LIBRARY_PACKAGE_SHLIBDEPS ON)
# A shlibs file and the ldconfig trigger, as any package with a library has;
# the scripts given replace CPack's own, which would call ldconfig directly.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_LIBRARY_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/triggers
  ${PROJECT_SOURCE_DIR}/packaging/postinst ${PROJECT_SOURCE_DIR}/packaging/postrm)

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libzarfel-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_DESCRIPTION "Zarfel I/O module library - development files
Zarfel speaks the protocol of Dalvora's I/O modules: it finds every module
on the LAN segment by a UDP broadcast and changes a module's network
settings.
.
This package holds the C header, the link name, a pkg-config file and a
CMake package (find_package(Zarfel)).")
include(CPack)
