# The layers' include roots. A layer's root is a folder in the build tree that
# holds links to the layer's own source folders and nothing else; a target sees
# its own root and those of the layers it links, so an include of a layer above
# it does not build.
#
# tarnvel_layer(target folder...)
function(tarnvel_layer target)
  set(root ${PROJECT_BINARY_DIR}/layers/${target})
  file(MAKE_DIRECTORY ${root})
  foreach(folder ${ARGN})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${root}/${folder} RESULT linked SYMBOLIC)
    if(NOT linked EQUAL 0)
      # No symbolic links here (Windows without the right): the project's root.
      set(root ${PROJECT_SOURCE_DIR})
      break()
    endif()
  endforeach()
  target_include_directories(${target} PUBLIC $<BUILD_INTERFACE:${root}>)
endfunction()
