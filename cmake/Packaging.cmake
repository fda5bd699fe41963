# What `cmake --install` puts where (GNUInstallDirs), and the Debian packages
# CPack makes of it: `cpack -G DEB` in an optimised build (RelWithDebInfo,
# stripped on the way, or Release) configured with -DCMAKE_INSTALL_PREFIX=/usr
# (tests/package/run does both). Two packages, as Debian splits a shared
# library from its users: libvintrel0 holds libVintrel.so.0 and the file it
# names, so that a later soname can be installed beside it; vintrel holds
# everything else and depends on it.

# The program. Its web page and vintrel.js are built into it.
install(TARGETS vintrel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT vintrel)
# The control as a module for other hosts: libVintrel.so.X.Y.Z and its
# soname link in libvintrel0; libVintrel.so itself, the name hosts load it by
# (with dlopen, not at link time, so it belongs with the program rather than
# in a development package), in vintrel.
install(TARGETS vintrel_module LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT libvintrel0
                                       NAMELINK_COMPONENT vintrel)
# TLS in a private folder: nothing links it, the platform loads it from
# there (src/platform/CMakeLists.txt).
install(TARGETS vintrel_tls LIBRARY DESTINATION ${VINTREL_TLS_INSTALL_DIR} COMPONENT vintrel)
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT vintrel)
# The licence beside the README in an install from the build; the packages
# carry it as Debian's copyright file instead (lintian counts a second copy
# as an extra licence file), so its component is not packaged.
install(FILES LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT licence)

# Shell completion, where bash-completion and zsh look. Debian's zsh reads
# packages' functions from vendor-completions and the administrator's from
# site-functions (/usr/local/share/zsh/site-functions is on its fpath).
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  set(zsh_folder vendor-completions)
else()
  set(zsh_folder site-functions)
endif()
set(VINTREL_BASH_COMPLETION_DIR ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
    CACHE STRING "Where the bash completion of vintrel is installed")
set(VINTREL_ZSH_COMPLETION_DIR ${CMAKE_INSTALL_DATADIR}/zsh/${zsh_folder}
    CACHE STRING "Where the zsh completion of vintrel is installed")
install(FILES completion/vintrel.bash DESTINATION ${VINTREL_BASH_COMPLETION_DIR} RENAME vintrel COMPONENT vintrel)
install(FILES completion/_vintrel DESTINATION ${VINTREL_ZSH_COMPLETION_DIR} COMPONENT vintrel)

# Debian's documentation of each package: its copyright (the licence, in
# the machine-readable format) and the changelog, compressed as policy
# asks, without a timestamp so that rebuilds are identical. Only packages
# get them (EXCLUDE_FROM_ALL: a component's install, as CPack's, includes
# them; a plain `cmake --install` does not).
set(debian_sources ${PROJECT_SOURCE_DIR}/packaging/debian)
set(debian_build ${PROJECT_BINARY_DIR}/packaging)
# A package whose changelog names another version is refused by lintian:
# caught here rather than after a build.
file(STRINGS ${debian_sources}/changelog changelog_top LIMIT_COUNT 1)
if(NOT changelog_top MATCHES "^vintrel \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "packaging/debian/changelog starts with '${changelog_top}', not version ${PROJECT_VERSION}")
endif()
add_custom_command(
  OUTPUT ${debian_build}/changelog.gz
  COMMAND ${CMAKE_COMMAND} -E copy ${debian_sources}/changelog ${debian_build}/changelog
  COMMAND ${VINTREL_GZIP} -9 -n -f ${debian_build}/changelog
  DEPENDS ${debian_sources}/changelog
  VERBATIM)
add_custom_target(vintrel_debian_changelog ALL DEPENDS ${debian_build}/changelog.gz)
foreach(package vintrel libvintrel0)
  install(FILES ${debian_sources}/copyright ${debian_build}/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${package} EXCLUDE_FROM_ALL)
endforeach()

set(VINTREL_PACKAGE_MAINTAINER "Vintrel developers <vintrel@example.org>"
    CACHE STRING "The packages' Maintainer field: a name and an address")
set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL vintrel libvintrel0)
set(CPACK_PACKAGE_NAME vintrel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Vintrel developers")
set(CPACK_PACKAGE_CONTACT ${VINTREL_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SOURCE vintrel)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)

# Each package's description: its first line is the summary. (No common
# summary is set: CPack would put it above both.)
set(CPACK_DEBIAN_VINTREL_PACKAGE_NAME vintrel)
set(CPACK_DEBIAN_VINTREL_PACKAGE_SECTION web)
# Lines as Debian shows them: CPack indents each but does not wrap them.
string(CONCAT CPACK_DEBIAN_VINTREL_DESCRIPTION
  "scriptable download control: resumes, mirrors, HTTPS\n"
  "Vintrel fetches files over HTTP/1.1 and HTTPS into a folder the user\n"
  "chose: it resumes partial files, follows redirections, probes several\n"
  "mirrors of a file to pick the fastest, and reports every step.\n"
  "\n"
  "The vintrel program downloads from the command line (vintrel get), lets\n"
  "a program in any language drive the control with JSON lines through a\n"
  "pipe (vintrel host), and lets web pages drive it through a server on\n"
  "127.0.0.1 (vintrel serve). libVintrel.so is the control as a module for\n"
  "other hosts.")
# Depends from the libraries the program and the TLS module link
# (dpkg-shlibdeps), and the library package at this very version: the
# libVintrel.so link names its file.
set(CPACK_DEBIAN_VINTREL_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_COMPONENT_VINTREL_DEPENDS libvintrel0)
# The folder chooser and the system's certificate authorities, used when
# present.
set(CPACK_DEBIAN_VINTREL_PACKAGE_RECOMMENDS "ca-certificates")
set(CPACK_DEBIAN_VINTREL_PACKAGE_SUGGESTS "zenity")

set(CPACK_DEBIAN_LIBVINTREL0_PACKAGE_NAME libvintrel0)
set(CPACK_DEBIAN_LIBVINTREL0_PACKAGE_SECTION libs)
string(CONCAT CPACK_DEBIAN_LIBVINTREL0_DESCRIPTION
  "scriptable download control as a module for other hosts\n"
  "Vintrel fetches files over HTTP/1.1 and HTTPS into a folder the user\n"
  "chose: it resumes partial files, follows redirections, probes several\n"
  "mirrors of a file to pick the fastest, and reports every step.\n"
  "\n"
  "This package holds libVintrel.so.0, the control as a module that a host\n"
  "loads at run time, registers and drives through its automation\n"
  "interface.")
# Asked to find a package's libraries, CPack also writes postinst and postrm
# scripts that call ldconfig, which Debian replaced with its ldconfig
# trigger (lintian warns of such calls). So for libvintrel0 CPack is given
# what it would find: the shlibs file naming the library's package for
# programs linked with it, the Depends that packaging/debian/
# libvintrel0-depends.cmake.in computes when cpack runs (the library is
# built by then), and the trigger, which refreshes the loader's cache on
# install and removal.
set(CPACK_DEBIAN_LIBVINTREL0_PACKAGE_SHLIBDEPS OFF)
configure_file(${debian_sources}/libvintrel0.shlibs.in ${debian_build}/libvintrel0/shlibs @ONLY)
configure_file(${debian_sources}/libvintrel0.triggers ${debian_build}/libvintrel0/triggers COPYONLY)
set(CPACK_DEBIAN_LIBVINTREL0_PACKAGE_CONTROL_EXTRA ${debian_build}/libvintrel0/shlibs
                                                   ${debian_build}/libvintrel0/triggers)
configure_file(${debian_sources}/libvintrel0-depends.cmake.in ${debian_build}/libvintrel0-depends.cmake.in @ONLY)
file(GENERATE OUTPUT ${debian_build}/libvintrel0-depends.cmake INPUT ${debian_build}/libvintrel0-depends.cmake.in)
set(CPACK_PROJECT_CONFIG_FILE ${debian_build}/libvintrel0-depends.cmake)
include(CPack)
