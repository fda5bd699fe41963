# Cross build for 64-bit Windows with Debian's mingw-w64 (posix thread model,
# which std::thread and std::mutex need):
#   cmake -S . -B build-win -G Ninja \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-w64-x86_64.cmake
# Packages: g++-mingw-w64-x86-64-posix, mingw-w64-tools (widl).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VINTREL_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VINTREL_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VINTREL_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VINTREL_MINGW_TRIPLE}-windres)

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
