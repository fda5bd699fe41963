# What `cmake --install` puts where (GNUInstallDirs), and the Debian package
# CPack makes of it: `cpack -G DEB` in an optimised build (RelWithDebInfo,
# stripped on the way, or Release) configured with -DCMAKE_INSTALL_PREFIX=/usr
# (tests/package/run does both).

# The program. Its web page and vintrel.js are built into it.
install(TARGETS vintrel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The control as a module for other hosts: libVintrel.so.X.Y.Z, its soname
# link, and libVintrel.so itself, the name hosts load it by (with dlopen,
# not at link time, so it belongs with the module rather than in a separate
# development package).
install(TARGETS vintrel_module LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
# TLS in a private folder: nothing links it, the platform loads it from
# there (src/platform/CMakeLists.txt).
install(TARGETS vintrel_tls LIBRARY DESTINATION ${VINTREL_TLS_INSTALL_DIR})
# There is no licence text in the sources to install beside the README.
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

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
install(FILES completion/vintrel.bash DESTINATION ${VINTREL_BASH_COMPLETION_DIR} RENAME vintrel)
install(FILES completion/_vintrel DESTINATION ${VINTREL_ZSH_COMPLETION_DIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vintrel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Vintrel developers")
set(CPACK_PACKAGE_CONTACT "Vintrel developers" CACHE STRING "The package's Maintainer field")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "scriptable download control: resumes, mirrors, HTTPS")
# Lines as Debian shows them: CPack indents each but does not wrap them.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "Vintrel fetches files over HTTP/1.1 and HTTPS into a folder the user\n"
  "chose: it resumes partial files, follows redirections, probes several\n"
  "mirrors of a file to pick the fastest, and reports every step.\n"
  "\n"
  "The vintrel program downloads from the command line (vintrel get), lets\n"
  "a program in any language drive the control with JSON lines through a\n"
  "pipe (vintrel host), and lets web pages drive it through a server on\n"
  "127.0.0.1 (vintrel serve). libVintrel.so is the control as a module for\n"
  "other hosts.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION web)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Depends from the libraries the program and modules link (dpkg-shlibdeps).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The folder chooser and the system's certificate authorities, used when
# present.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "ca-certificates")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "zenity")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
