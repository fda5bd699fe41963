# The layers, from the bottom. Code of a layer may include its own headers
# and those of the layers below it, never those above: the build sees to it
# (a layer's target exposes only its own folder, so an include of a layer it
# does not link fails to compile) and so does the `layering` test, which
# also holds README's architecture table to this list.
set(VINTREL_LAYERS text automation http platform files queue control com host web apps)

# Makes `target` a target of `layer`: it, and whatever links it, sees the
# layer's headers as "<layer>/..." and nothing else of src/.
function(vintrel_layer target layer)
  set(root ${PROJECT_BINARY_DIR}/layers/${layer})
  if(NOT IS_SYMLINK ${root}/${layer})
    file(MAKE_DIRECTORY ${root})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/src/${layer} ${root}/${layer} SYMBOLIC)
  endif()
  target_include_directories(${target} PUBLIC ${root})
endfunction()
