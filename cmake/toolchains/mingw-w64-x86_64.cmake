# Cross build for 64-bit Windows with Debian's mingw-w64 (posix thread model,
# which std::thread and std::mutex need):
#   cmake -S . -B build-win -G Ninja \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-w64-x86_64.cmake
# Packages: g++-mingw-w64-x86-64-posix, mingw-w64-tools (widl).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(VINTREL_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
