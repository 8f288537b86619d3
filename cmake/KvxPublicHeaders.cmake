# SPDX-License-Identifier: MIT
# The installed include tree, staged in the build tree: <build>/include/kvx/ holds the version
# header and a copy of every public header of the installed layers (interfaces, factory, plugin,
# host, describe) whose includes of each other read "kvx/<layer>/...". Our own sources keep including
# "plugin/..." from the source tree; users include <kvx/plugin/mp_base2.h> from one folder.
# Also stages the entry point source that kvx_add_module_library compiles into each module.
include_guard(GLOBAL)

set(KVX_STAGED_INCLUDE_DIR ${PROJECT_BINARY_DIR}/include)
set(KVX_STAGED_MODULE_DIR ${PROJECT_BINARY_DIR}/share/kvx/module)
set(KVX_PUBLIC_LAYERS interfaces factory plugin host describe)

configure_file(${CMAKE_CURRENT_LIST_DIR}/version.h.in ${KVX_STAGED_INCLUDE_DIR}/kvx/version.h @ONLY)

file(GLOB KVX_PUBLIC_HEADERS RELATIVE ${PROJECT_SOURCE_DIR} CONFIGURE_DEPENDS
     ${PROJECT_SOURCE_DIR}/interfaces/*.h ${PROJECT_SOURCE_DIR}/factory/*.h
     ${PROJECT_SOURCE_DIR}/plugin/*.h ${PROJECT_SOURCE_DIR}/host/*.h
     ${PROJECT_SOURCE_DIR}/describe/*.h)

set(KVX_STAGED_HEADERS ${KVX_STAGED_INCLUDE_DIR}/kvx/version.h)
foreach(header ${KVX_PUBLIC_HEADERS} factory/entry_point.cpp)
  if(header MATCHES "\\.cpp$")
    set(copy ${KVX_STAGED_MODULE_DIR}/entry_point.cpp)
  else()
    set(copy ${KVX_STAGED_INCLUDE_DIR}/kvx/${header})
    list(APPEND KVX_STAGED_HEADERS ${copy})
  endif()
  add_custom_command(OUTPUT ${copy}
    COMMAND ${CMAKE_COMMAND} -DIN=${PROJECT_SOURCE_DIR}/${header} -DOUT=${copy}
            -P ${CMAKE_CURRENT_LIST_DIR}/KvxPrefixIncludes.cmake
    DEPENDS ${PROJECT_SOURCE_DIR}/${header} ${CMAKE_CURRENT_LIST_DIR}/KvxPrefixIncludes.cmake
    COMMENT "Staging ${header} for the installed tree"
    VERBATIM)
  list(APPEND KVX_STAGED_FILES ${copy})
endforeach()
add_custom_target(kvx_staged_headers ALL DEPENDS ${KVX_STAGED_FILES})
