# The Windows build (cross-compiled with cmake/toolchains/mingw-w64-x86_64.cmake):
# the engine's libraries over the Windows platform layer, for the automation
# DLL to link. Programs, hosts, the web container and the Linux tests are not
# built for it.

# A build that names no type is the DLL users install: optimised and
# stripped (see src/com), not the unoptimised default.
if(NOT CMAKE_BUILD_TYPE AND NOT CMAKE_CONFIGURATION_TYPES)
  set(CMAKE_BUILD_TYPE Release CACHE STRING "Debug, Release, RelWithDebInfo or MinSizeRel" FORCE)
endif()

# Boost is used for its headers only. Debian's copy in /usr/include serves the
# cross compiler too, but /usr/include itself must never be on its search
# path (glibc's headers would shadow mingw-w64's), so the build sees Boost
# through a folder holding nothing else.
set(VINTREL_BOOST_HEADERS /usr/include/boost CACHE PATH "Boost's header folder (the one named boost)")
if(NOT EXISTS ${VINTREL_BOOST_HEADERS}/asio.hpp)
  message(FATAL_ERROR "Boost's headers not found in ${VINTREL_BOOST_HEADERS} (apt-get install libboost-dev)")
endif()
set(vintrel_boost_root ${PROJECT_BINARY_DIR}/boost-headers)
if(NOT IS_SYMLINK ${vintrel_boost_root}/boost)
  file(MAKE_DIRECTORY ${vintrel_boost_root})
  file(CREATE_LINK ${VINTREL_BOOST_HEADERS} ${vintrel_boost_root}/boost SYMBOLIC)
endif()
if(NOT TARGET Boost::headers)
  add_library(Boost::headers INTERFACE IMPORTED)
  set_target_properties(Boost::headers PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${vintrel_boost_root}
                                                  INTERFACE_SYSTEM_INCLUDE_DIRECTORIES ${vintrel_boost_root})
endif()

set(THREADS_PREFER_PTHREAD_FLAG ON)
find_package(Threads REQUIRED)

# Windows 7's API at least (IFileOpenDialog, GetTickCount64); Unicode entry
# points only, so no call takes text in the ANSI code page by accident.
add_compile_definitions(_WIN32_WINNT=0x0601 WINVER=0x0601 UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX)

# The DLL and test programs carry libgcc, libstdc++ and winpthread inside
# them: a machine with no MinGW runtime (any Windows, a fresh Wine prefix)
# loads them as they are.
add_link_options(-static-libgcc -static-libstdc++ -static)

# The position-independent flag means nothing to PE files.
set(CMAKE_POSITION_INDEPENDENT_CODE OFF)

# mingw-w64 declares the POSIX re-entrant time functions (localtime_r) only
# when asked to.
add_compile_definitions(_POSIX_THREAD_SAFE_FUNCTIONS=200112L)
