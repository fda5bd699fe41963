# The layers, from the bottom. Code of a layer may include its own headers
# and those of the layers below it, never those above: the build sees to it
# (a layer's target exposes only its own folder, so an include of a layer it
# does not link fails to compile) and so does the `layering` test, which
# also holds README's architecture table to this list.
set(VINTREL_LAYERS text automation http platform files queue control com host web apps)

# The folder of a layer's sources in the repository at `source_dir`:
# src/<layer>, but apps/ for the programs. (The layering check, a script
# without a project, reads it too.)
function(vintrel_layer_folder source_dir layer out)
  if(layer STREQUAL "apps")
    set(${out} ${source_dir}/apps PARENT_SCOPE)
  else()
    set(${out} ${source_dir}/src/${layer} PARENT_SCOPE)
  endif()
endfunction()

# Makes `target` a target of `layer`: it, and whatever links it, sees the
# layer's headers as "<layer>/..." and nothing else of the repository. The
# include root is a folder of the build holding one link to the layer's
# folder, never the repository or src/ itself: a root above a layer would
# let every layer's headers be found, and an upward include would compile.
function(vintrel_layer target layer)
  set(root ${PROJECT_BINARY_DIR}/layers/${layer})
  if(NOT IS_SYMLINK ${root}/${layer})
    vintrel_layer_folder(${PROJECT_SOURCE_DIR} ${layer} folder)
    file(MAKE_DIRECTORY ${root})
    file(CREATE_LINK ${folder} ${root}/${layer} SYMBOLIC)
  endif()
  target_include_directories(${target} PUBLIC ${root})
endfunction()
