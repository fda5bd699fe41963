# Cross build for 32-bit Windows (32-bit Office, SysWOW64 script hosts) with
# Debian's mingw-w64, posix thread model:
#   cmake -S . -B build-win32 -G Ninja \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-w64-i686.cmake
# Packages: g++-mingw-w64-i686-posix, mingw-w64-tools (widl); running the
# build's own programs needs Wine's 32-bit half (wine32:i386).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(VINTREL_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
