# The layers of the tree, kept by the compiler. Each top-level folder is a
# library whose include directory holds one entry: a link to the folder
# itself. A library therefore sees the headers of its own folder and of the
# libraries it links, and nothing else: an engine source that includes
# "service/..." finds no such file. Tests, which may look at every layer,
# add the source tree themselves.
function(pravlen_folder_headers target folder)
  set(dir "${CMAKE_BINARY_DIR}/headers/${folder}")
  file(MAKE_DIRECTORY "${dir}")
  file(CREATE_LINK "${CMAKE_SOURCE_DIR}/${folder}" "${dir}/${folder}" SYMBOLIC)
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE "${dir}")
  else()
    target_include_directories(${target} PUBLIC "${dir}")
  endif()
endfunction()
