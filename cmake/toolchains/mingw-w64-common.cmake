# What the two mingw-w64 toolchain files share; each sets
# VINTREL_MINGW_TRIPLE and CMAKE_SYSTEM_PROCESSOR before including it.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${VINTREL_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VINTREL_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VINTREL_MINGW_TRIPLE}-windres)
# Release builds ship stripped: `cmake --install --strip` and the strip
# target of the DLL use the target's own strip.
set(CMAKE_STRIP ${VINTREL_MINGW_TRIPLE}-strip)

# The IDL compiler for the type library.
find_program(VINTREL_WIDL NAMES ${VINTREL_MINGW_TRIPLE}-widl widl DOC "widl of mingw-w64-tools")

# Headers and libraries of the target come from the mingw-w64 sysroot only;
# programs run at build time are the build machine's. (Boost's headers are
# taken from the build machine by cmake/Windows.cmake.)
set(CMAKE_FIND_ROOT_PATH /usr/${VINTREL_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Programs run under Wine in the tests.
set(CMAKE_CROSSCOMPILING_EMULATOR wine CACHE STRING "Runs the cross-built programs")
