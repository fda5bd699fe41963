# Instrumentation is set per target, as the warnings are: each function
# below gives one target what a build option asks for. Nothing goes into the
# directories' flags, so the compiler checks that find_package and
# check_pie_supported run, and imported libraries, stay as they are, and a
# target's flags can be read from the target alone.
option(VINTREL_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(VINTREL_FUZZ "Build the fuzz targets of tests/fuzz (clang++ only)" OFF)

if(VINTREL_FUZZ AND NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "VINTREL_FUZZ needs clang++ (-DCMAKE_CXX_COMPILER=clang++)")
endif()

# AddressSanitizer and UndefinedBehaviorSanitizer on `target`. An undefined
# behaviour stops the program instead of printing and going on, so a test
# that triggers one fails.
function(vintrel_enable_sanitizers target)
  target_compile_options(${target} PRIVATE -fsanitize=address,undefined -fno-omit-frame-pointer
                                           -fno-sanitize-recover=undefined)
  target_link_options(${target} PRIVATE -fsanitize=address,undefined)
endfunction()

# Coverage counters for libFuzzer, and the sanitizers, on `target`: every
# target a fuzz target links carries them so that the fuzzer sees the paths
# its input takes there. Only the fuzz targets link libFuzzer's main
# (vintrel_fuzz_main).
function(vintrel_enable_fuzz_coverage target)
  target_compile_options(${target} PRIVATE -fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
                                           -fno-sanitize-recover=undefined)
  target_link_options(${target} PRIVATE -fsanitize=address,undefined)
endfunction()

# Links libFuzzer's main into the fuzz target `target`.
function(vintrel_fuzz_main target)
  target_link_options(${target} PRIVATE -fsanitize=fuzzer)
endfunction()

# What the build options ask for, on `target`.
function(vintrel_instrument target)
  if(VINTREL_FUZZ)
    vintrel_enable_fuzz_coverage(${target})
  elseif(VINTREL_SANITIZE)
    vintrel_enable_sanitizers(${target})
  endif()
endfunction()

# Applies vintrel_instrument to every target that compiles code, defined in
# `dir` and the folders under it. Called once, after the last
# add_subdirectory, so that a target added anywhere in the project (a new
# test program) is instrumented without its author having to remember it:
# in a sanitizer build a test that is not would silently check nothing.
function(vintrel_instrument_targets dir)
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(target IN LISTS targets)
    get_target_property(type ${target} TYPE)
    if(type MATCHES "^(EXECUTABLE|STATIC_LIBRARY|SHARED_LIBRARY|MODULE_LIBRARY|OBJECT_LIBRARY)$")
      vintrel_instrument(${target})
    endif()
  endforeach()
  get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(subdir IN LISTS subdirs)
    vintrel_instrument_targets(${subdir})
  endforeach()
endfunction()
