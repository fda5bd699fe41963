# The layering check must catch what it exists for: each case plants one
# include line in a copy of the repository's sources and runs the check on
# the copy. An include of a layer above fails, however it is spelled; one of
# the file's own layer, of a layer below, or of a library passes.
#   cmake -DSOURCE_DIR=<repository> -DWORK_DIR=<scratch folder> -P tests/cmake/check_layers_test.cmake
cmake_minimum_required(VERSION 3.25)

# layer | planted line | what the check must say (empty: it must pass)
set(cases
  "text|#include \"http/url.hpp\"|includes http/, a layer above text"
  "text|#include <http/url.hpp>|includes http/, a layer above text"
  "http|#  include <platform/event_loop.hpp>|includes platform/, a layer above http"
  "queue|#include<control/user_control.hpp>|includes control/, a layer above queue"
  "control|  #include <web/server.hpp> // comment|includes web/, a layer above control"
  "web|#include <apps/report.hpp>|includes apps/, a layer above web"
  "http|#include <http/url.hpp>|"
  "control|#include <text/text.hpp>|"
  "platform|#include <boost/asio/ip/tcp.hpp>|")

set(copy ${WORK_DIR}/repository)
set(failures "")
foreach(case IN LISTS cases)
  string(REPLACE "|" ";" fields "${case}")
  list(GET fields 0 layer)
  list(GET fields 1 line)
  list(LENGTH fields count)
  set(expected "")
  if(count GREATER 2)
    list(GET fields 2 expected)
  endif()

  # A fresh copy per case, so that one case's line never decides another's.
  file(REMOVE_RECURSE ${copy})
  file(MAKE_DIRECTORY ${copy})
  file(COPY ${SOURCE_DIR}/cmake ${SOURCE_DIR}/src ${SOURCE_DIR}/apps ${SOURCE_DIR}/README.md DESTINATION ${copy})
  if(layer STREQUAL "apps")
    set(folder ${copy}/apps)
  else()
    set(folder ${copy}/src/${layer})
  endif()
  file(GLOB headers ${folder}/*.hpp)
  list(SORT headers)
  list(GET headers 0 planted)
  file(APPEND ${planted} "${line}\n")

  execute_process(COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${copy} -P ${copy}/cmake/check_layers.cmake
                  RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
  file(RELATIVE_PATH shown ${copy} ${planted})
  if(expected STREQUAL "")
    if(NOT result EQUAL 0)
      string(APPEND failures "'${line}' in ${shown}: the check failed, it should pass:\n${out}\n")
    endif()
  elseif(result EQUAL 0)
    string(APPEND failures "'${line}' in ${shown}: the check passed, it should fail\n")
  elseif(NOT out MATCHES "${shown}: ${expected}")
    string(APPEND failures "'${line}' in ${shown}: the check failed without saying \"${shown}: ${expected}\":\n${out}\n")
  endif()
endforeach()
file(REMOVE_RECURSE ${copy})

if(failures)
  message(FATAL_ERROR "${failures}")
endif()
list(LENGTH cases count)
message(STATUS "Layering check: ${count} planted includes judged as they should be")
