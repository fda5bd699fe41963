# Every program and module is built with the hardening Debian's own packages
# get from dpkg-buildflags: bounds-checked libc calls where the size is
# known (needs the optimiser, so not in Debug), a canary in every function
# with a local array or address-taken local, relocations read-only once
# loaded and resolved at load time, and a position-independent program so
# that it is loaded at a random address. Flags are global so that the
# layers' static libraries linked into the program and libVintrel.so carry
# them too. The sanitizer and fuzz builds, made to find faults rather than
# to be shipped, leave them out: the fortified libc calls hide accesses
# from AddressSanitizer.
option(VINTREL_HARDEN "Build with the hardening flags of Debian's packages" ON)
if(VINTREL_HARDEN AND NOT WIN32 AND NOT VINTREL_SANITIZE AND NOT VINTREL_FUZZ)
  include(CheckPIESupported)
  check_pie_supported()
  add_compile_options(-fstack-protector-strong)
  add_compile_definitions($<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:_FORTIFY_SOURCE=2>)
  add_link_options(LINKER:-z,relro,-z,now)
endif()
