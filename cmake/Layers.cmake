# Which headers a target may include. Each layer's headers are linked, under their usual paths
# ("toolkit/window.h"), into a folder of that layer's own in the build tree; a target sees only the
# folders of the layers it links, so including a header of a layer it may not use is a build
# error ("No such file or directory"), not a review comment. Tests and benchmarks see the whole
# source tree.
#
#   pixmole_layer(NAME core HEADERS toolkit/window.h ...)  ->  interface target pm_layer_core
function(pixmole_layer)
  cmake_parse_arguments(LAYER "" "NAME" "HEADERS" ${ARGN})
  set(root ${CMAKE_BINARY_DIR}/layers/${LAYER_NAME})
  file(REMOVE_RECURSE ${root})
  foreach(header ${LAYER_HEADERS})
    get_filename_component(folder ${root}/${header} DIRECTORY)
    file(MAKE_DIRECTORY ${folder})
    file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${header} ${root}/${header} SYMBOLIC)
  endforeach()
  add_library(pm_layer_${LAYER_NAME} INTERFACE)
  target_include_directories(pm_layer_${LAYER_NAME} INTERFACE ${root})
endfunction()

# The headers of one folder, as paths from the source root.
function(pixmole_headers_of folder out)
  file(GLOB headers CONFIGURE_DEPENDS RELATIVE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/${folder}/*.h)
  set(${out} ${headers} PARENT_SCOPE)
endfunction()
