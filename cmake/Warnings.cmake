# Warnings are set per target so that third-party headers and generated code
# stay out of it; CI turns them into errors with -DVINTREL_WERROR=ON.
function(vintrel_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion)
  if(WIN32)
    # mingw-w64's GCC 12 warns inside its own libstdc++ (char_traits'
    # memcpy "may overlap") for plain string appends once inlined.
    target_compile_options(${target} PRIVATE -Wno-restrict)
  endif()
  if(VINTREL_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
