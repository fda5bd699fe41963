# The layering check: fails when code includes a header of a layer above its
# own, quoted ("http/url.hpp") or in angle brackets (<http/url.hpp>), or when
# README's architecture table does not list the layers of cmake/Layers.cmake
# in their order. Angle brackets count because the compiler looks a project
# header up through the same include roots either way.
#   cmake -DSOURCE_DIR=<repository> -P cmake/check_layers.cmake
cmake_minimum_required(VERSION 3.25)
include(${SOURCE_DIR}/cmake/Layers.cmake)

set(problems "")
list(LENGTH VINTREL_LAYERS count)
foreach(layer IN LISTS VINTREL_LAYERS)
  list(FIND VINTREL_LAYERS ${layer} own)
  vintrel_layer_folder(${SOURCE_DIR} ${layer} folder)
  file(GLOB_RECURSE sources ${folder}/*.cpp ${folder}/*.hpp)
  foreach(source IN LISTS sources)
    # Any first folder is read; those that are not a layer (boost/, openssl/)
    # are not in the list and pass.
    file(STRINGS ${source} includes REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"][a-z_]+/")
    foreach(line IN LISTS includes)
      string(REGEX REPLACE "^[^<\"]*[<\"]([a-z_]+)/.*$" "\\1" used "${line}")
      list(FIND VINTREL_LAYERS ${used} theirs)
      if(theirs GREATER own)
        file(RELATIVE_PATH shown ${SOURCE_DIR} ${source})
        string(APPEND problems "${shown}: includes ${used}/, a layer above ${layer}\n")
      endif()
    endforeach()
  endforeach()
endforeach()

# README: the rows of the architecture table name the layers' folders in order.
file(STRINGS ${SOURCE_DIR}/README.md rows REGEX "^\\| `(src/[a-z_]+|apps)` \\|")
set(listed "")
foreach(row IN LISTS rows)
  string(REGEX REPLACE "^\\| `(src/)?([a-z_]+)` \\|.*$" "\\2" name "${row}")
  list(APPEND listed ${name})
endforeach()
if(NOT listed STREQUAL VINTREL_LAYERS)
  string(REPLACE ";" " " want "${VINTREL_LAYERS}")
  string(REPLACE ";" " " have "${listed}")
  string(APPEND problems "README.md: the architecture table lists \"${have}\"; the layers are \"${want}\"\n")
endif()

if(problems)
  message(FATAL_ERROR "Layering:\n${problems}")
endif()
message(STATUS "Layering: ${count} layers, no include goes up")
