# Warnings are set per target so that third-party headers and generated code
# stay out of it; CI turns them into errors with -DVINTREL_WERROR=ON.
function(vintrel_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion)
  if(VINTREL_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
