# SPDX-License-Identifier: MIT
# kvx_add_module_library(NAME SOURCES... [LINK libs...] [DESCRIPTION file.kvx.json]
#                        [OUTPUT_DIRECTORY dir] [INSTALL] [COMPONENT component])
# Builds a module library NAME.kvx (no "lib" prefix) that exports MP_GetFactory and nothing else:
# the factory's entry point is compiled in, symbols are hidden, a version script keeps the one
# export, and a missing symbol fails the link instead of the load. DESCRIPTION copies the
# module description beside the library, where `kvx` looks for it; INSTALL installs both into the
# module folder (<libdir>/kvx) that `kvx list` searches, as part of COMPONENT when one is given
# (a package built from components; kvx installs its envelope with the runtime).
#
# The same file serves this tree and the installed package; each sets where the entry point
# source and the version script are before including it:
#   KVX_MODULE_ENTRY_POINT, KVX_MODULE_EXPORT_MAP
include_guard(GLOBAL)
include(GNUInstallDirs)

function(kvx_add_module_library name)
  cmake_parse_arguments(ARG "INSTALL" "OUTPUT_DIRECTORY;DESCRIPTION;COMPONENT" "SOURCES;LINK" ${ARGN})
  if(NOT KVX_MODULE_ENTRY_POINT OR NOT KVX_MODULE_EXPORT_MAP)
    message(FATAL_ERROR "kvx_add_module_library: KVX_MODULE_ENTRY_POINT and KVX_MODULE_EXPORT_MAP "
                        "are not set (use find_package(kvx))")
  endif()
  if(NOT ARG_OUTPUT_DIRECTORY)
    set(ARG_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
  endif()
  add_library(${name} MODULE ${ARG_SOURCES} ${KVX_MODULE_ENTRY_POINT})
  target_link_libraries(${name} PRIVATE kvx::plugin ${ARG_LINK})
  kvx_target_options(${name})
  set_target_properties(${name} PROPERTIES
    PREFIX "" SUFFIX ".kvx" OUTPUT_NAME ${name}
    CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON
    LIBRARY_OUTPUT_DIRECTORY ${ARG_OUTPUT_DIRECTORY}
    LINK_DEPENDS ${KVX_MODULE_EXPORT_MAP})
  target_link_options(${name} PRIVATE -Wl,--version-script=${KVX_MODULE_EXPORT_MAP})
  if(NOT KVX_SANITIZE)
    # A missing symbol fails the link, not the load (sanitizer runtimes resolve at load).
    target_link_options(${name} PRIVATE -Wl,-z,defs)
  endif()

  set(module_folder ${CMAKE_INSTALL_LIBDIR}/kvx)
  set(component)
  if(ARG_COMPONENT)
    set(component COMPONENT ${ARG_COMPONENT})
  endif()
  if(ARG_DESCRIPTION)
    cmake_path(ABSOLUTE_PATH ARG_DESCRIPTION BASE_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR})
    set(copy ${ARG_OUTPUT_DIRECTORY}/${name}.kvx.json)
    add_custom_command(OUTPUT ${copy}
      COMMAND ${CMAKE_COMMAND} -E copy ${ARG_DESCRIPTION} ${copy}
      DEPENDS ${ARG_DESCRIPTION}
      COMMENT "Copying the description of ${name}.kvx")
    add_custom_target(${name}_description ALL DEPENDS ${copy})
    add_dependencies(${name} ${name}_description)
    if(ARG_INSTALL)
      install(FILES ${ARG_DESCRIPTION} DESTINATION ${module_folder} RENAME ${name}.kvx.json ${component})
    endif()
  endif()
  if(ARG_INSTALL)
    install(TARGETS ${name} LIBRARY DESTINATION ${module_folder} ${component})
  endif()
endfunction()
