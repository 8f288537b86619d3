# kvx_add_module_library(NAME SOURCES... [LINK libs...] [OUTPUT_DIRECTORY dir])
# Builds a module library NAME.kvx (no "lib" prefix) that exports MP_GetFactory and nothing else.
function(kvx_add_module_library name)
  cmake_parse_arguments(ARG "" "OUTPUT_DIRECTORY" "SOURCES;LINK" ${ARGN})
  if(NOT ARG_OUTPUT_DIRECTORY)
    set(ARG_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
  endif()
  add_library(${name} MODULE ${ARG_SOURCES} ${PROJECT_SOURCE_DIR}/factory/entry_point.cpp)
  target_link_libraries(${name} PRIVATE kvx::plugin ${ARG_LINK})
  kvx_target_options(${name})
  set_target_properties(${name} PROPERTIES
    PREFIX "" SUFFIX ".kvx" OUTPUT_NAME ${name}
    LIBRARY_OUTPUT_DIRECTORY ${ARG_OUTPUT_DIRECTORY}
    LINK_DEPENDS ${PROJECT_SOURCE_DIR}/factory/exports.map)
  target_link_options(${name} PRIVATE -Wl,--version-script=${PROJECT_SOURCE_DIR}/factory/exports.map)
  if(NOT KVX_SANITIZE)
    # A missing symbol fails the link, not the load (sanitizer runtimes resolve at load).
    target_link_options(${name} PRIVATE -Wl,-z,defs)
  endif()
endfunction()
